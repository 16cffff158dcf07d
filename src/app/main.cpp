// scene-sampler: builds the platform (the simulated desktop, or an X desktop
// when one is reachable or asked for) and the production runtime, then runs the
// entry.
#include <cstdio>

#include "core/entry.h"
#include "platform/asio_runtime.h"
#include "platform/platform_choice.h"
#include "platform/simulated/scene_loader.h"
#ifdef SCENE_SAMPLER_HAVE_X11
#include "platform/x11/x11_platform.h"
#endif

extern char** environ;

int main(int argc, char** argv) {
    const scene::Arguments arguments(argv, argv + argc);
    scene::Environment environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos) environment.emplace(text.substr(0, equals), text.substr(equals + 1));
    }

    scene::AsioRuntime runtime;
    std::unique_ptr<scene::Platform> platform;
    std::function<bool(const std::string&)> openX11;
#ifdef SCENE_SAMPLER_HAVE_X11
    openX11 = [&](const std::string& display) {
        return (platform = scene::x11::X11Platform::open(display, runtime)) != nullptr;
    };
#endif
    const auto choice = scene::choosePlatform(arguments, environment, openX11);
    if (!choice.kind) {
        std::fprintf(stderr, "%s\n", choice.error.c_str());
        return 2;
    }
    if (*choice.kind == scene::PlatformKind::simulated) {
        auto loaded = scene::simulated::loadSceneForProcess(arguments, environment, runtime);
        if (!loaded.platform) {
            std::fprintf(stderr, "%s\n", loaded.error.c_str());
            return 2;
        }
        platform = std::move(loaded.platform);
    }
    return scene::runSceneSampler(arguments, environment, *platform, runtime);
}
