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
// run. Exactly one of `kind` and `error` is set. `notice` is a line to tell
// the user while running anyway: a desktop they did not ask for by name.
struct PlatformChoice {
    std::optional<PlatformKind> kind;
    std::string error = {};
    std::string notice = {};
};

// "--platform simulated|x11" decides alone. Otherwise a scene ("--scene" or
// SCENE_SAMPLER_SCENE) means the simulated desktop and DISPLAY means X: when
// no server answers there, the user meant a real desktop, so that is an
// error, not the demo. With neither, the built-in demo desktop runs, and the
// notice says so. `openX11` is asked only when X is wanted; it is empty when
// the back-end was not built, and otherwise opens the named display (true
// when it did).
PlatformChoice choosePlatform(const Arguments& arguments, const Environment& environment,
                              const std::function<bool(const std::string& display)>& openX11);

}  // namespace scene
