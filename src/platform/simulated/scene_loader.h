#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/process_environment.h"
#include "platform/runtime.h"
#include "platform/simulated/process_facts.h"
#include "platform/simulated/simulated_platform.h"

namespace scene::simulated {

inline constexpr std::string_view kSceneArgument = "--scene";
inline constexpr std::string_view kSceneEnvironmentVariable = "SCENE_SAMPLER_SCENE";
inline constexpr std::string_view kDemoSceneName = "demo.json";

// A platform, or the one line that says why there is none:
// "<file>: <json path>: <problem>". Exactly one is set.
struct LoadResult {
    std::unique_ptr<SimulatedPlatform> platform;
    std::string error;
};

// Reads scene text; `fileName` only names it in the error line. The timeline
// starts at the runtime's current uptime.
LoadResult loadScene(std::string_view text, std::string_view fileName, Runtime& runtime,
                     ProcessFacts facts = ProcessFacts::current());
// Reads the scene file at `path`, named as given in the error line.
LoadResult loadSceneFile(const std::string& path, Runtime& runtime, ProcessFacts facts = ProcessFacts::current());
// The scene the process was started with: the path after "--scene", else the
// SCENE_SAMPLER_SCENE environment variable (an empty value counts as unset),
// else the built-in demo desktop.
LoadResult loadSceneForProcess(const Arguments& arguments, const Environment& environment, Runtime& runtime);

}  // namespace scene::simulated
