#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/process_environment.h"

namespace scene {

inline constexpr std::string_view kPlatformArgument = "--platform";

enum class PlatformKind { simulated, x11 };

// Which desktop the process runs on, or the one line that says why it cannot
// run. Exactly one is set.
struct PlatformChoice {
    std::optional<PlatformKind> kind;
    std::string error;
};

// "--platform simulated|x11" decides alone. Otherwise a scene ("--scene" or
// SCENE_SAMPLER_SCENE) means the simulated desktop, a reachable X server named
// by DISPLAY means X, and anything else the built-in demo desktop.
// `openX11` is asked only when X is wanted; it is empty when the back-end was
// not built, and otherwise opens the named display (true when it did).
PlatformChoice choosePlatform(const Arguments& arguments, const Environment& environment,
                              const std::function<bool(const std::string& display)>& openX11);

}  // namespace scene
