#include "core/entry.h"

#include "core/command_line.h"
#include "core/scene_sampler.h"

namespace scene {

std::optional<int> exitWithoutDesktop(const Arguments& arguments) {
    const CommandLine commandLine = parseCommandLine(arguments);
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
