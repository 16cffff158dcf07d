// scene-sampler: builds the platform (the simulated desktop) and the production
// runtime, then runs the entry.
#include <cstdio>

#include "core/entry.h"
#include "platform/asio_runtime.h"
#include "platform/simulated/scene_loader.h"

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
    auto loaded = scene::simulated::loadSceneForProcess(arguments, environment, runtime);
    if (!loaded.platform) {
        std::fprintf(stderr, "%s\n", loaded.error.c_str());
        return 2;
    }
    return scene::runSceneSampler(arguments, environment, *loaded.platform, runtime);
}
