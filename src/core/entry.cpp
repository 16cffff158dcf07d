#include "core/entry.h"

#include "core/command_line.h"
#include "core/scene_sampler.h"
#include "core/usage.h"

namespace scene {

std::optional<int> answerWithoutDesktop(const Arguments& arguments, std::FILE* out, std::FILE* err) {
    const CommandLine commandLine = parseCommandLine(arguments);
    if (commandLine.help) {
        const std::string_view usage = usageText();
        std::fwrite(usage.data(), 1, usage.size(), out);
        return 0;
    }
    if (commandLine.version) {
        std::fprintf(out, "scene-sampler %.*s\n", static_cast<int>(versionText().size()), versionText().data());
        return 0;
    }
    for (const std::string& option : commandLine.unknownOptions)
        std::fprintf(err, "scene-sampler: ignoring unknown option %s\n", option.c_str());
    if (commandLine.requestScreenPermission && !commandLine.permissionStatus) return kExitRequestScreenPermission;
    return std::nullopt;
}

int runSceneSampler(const Arguments& arguments, const Environment& environment, Platform& platform, Runtime& runtime) {
    const CommandLine commandLine = parseCommandLine(arguments);
    if (commandLine.permissionStatus) {
        const Json status = {
            {"accessibility", platform.accessibility().isProcessTrusted()},
            {"screen", platform.windowServer().preflightScreenCaptureAccess()},
            {"selectedCaptureSupported", platform.workspace().systemVersion().atLeast(14, 4)},
        };
        runtime.standardStreams().writeLine(status.dump());
        return 0;
    }
    if (commandLine.requestScreenPermission) return kExitRequestScreenPermission;

    SceneSampler sampler(arguments, environment, platform, runtime);
    if (sampler.state.once) {
        sampler.sample();
        return 0;
    }
    sampler.start();
    return runtime.run();
}

}  // namespace scene
