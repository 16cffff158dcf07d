#include "platform/platform_choice.h"

#include <algorithm>

namespace scene {
namespace {

constexpr std::string_view kSimulated = "simulated";
constexpr std::string_view kX11 = "x11";
constexpr std::string_view kSceneArgument = "--scene";
constexpr std::string_view kSceneVariable = "SCENE_SAMPLER_SCENE";
constexpr std::string_view kDisplayVariable = "DISPLAY";
constexpr std::string_view kNoDesktopNamed = "scene-sampler: no --platform, no scene and no DISPLAY: ";

std::string variable(const Environment& environment, std::string_view name) {
    const auto it = environment.find(name);
    return it != environment.end() ? it->second : std::string();
}

}  // namespace

PlatformChoice choosePlatform(const Arguments& arguments, const Environment& environment,
                              const std::function<bool(const std::string& display)>& openX11) {
    const auto first = arguments.begin() + std::min<std::ptrdiff_t>(1, std::ssize(arguments));
    const std::string display = variable(environment, kDisplayVariable);
    if (const auto flag = std::find(first, arguments.end(), kPlatformArgument); flag != arguments.end()) {
        const auto value = std::next(flag);
        if (value == arguments.end() || (*value != kSimulated && *value != kX11))
            return {std::nullopt, std::string(kPlatformArgument) + ": expected simulated or x11"};
        if (*value == kSimulated) return {PlatformKind::simulated, {}};
        if (!openX11) return {std::nullopt, std::string(kPlatformArgument) + " x11: not built into this binary"};
        if (display.empty() || !openX11(display))
            return {std::nullopt, std::string(kPlatformArgument) + " x11: cannot open display \"" + display + "\""};
        return {PlatformKind::x11, {}};
    }
    const bool scene = std::find(first, arguments.end(), kSceneArgument) != arguments.end() ||
                       !variable(environment, kSceneVariable).empty();
    if (scene) return {PlatformKind::simulated, {}};
    if (display.empty())
        return {PlatformKind::simulated, {}, std::string(kNoDesktopNamed) + "running the built-in demo desktop"};
    if (!openX11)
        return {PlatformKind::simulated, {},
                std::string(kNoDesktopNamed) + "this binary has no X11 back-end; running the built-in demo desktop"};
    if (!openX11(display))
        return {std::nullopt,
                "DISPLAY \"" + display + "\": no X server answers (--platform simulated runs the demo desktop)"};
    return {PlatformKind::x11, {}};
}

}  // namespace scene
