#include "core/command_line.h"

#include <limits>

#include "core/decimal.h"

namespace scene {
namespace {

constexpr std::string_view kPermissionStatus = "--permission-status";
constexpr std::string_view kRequestScreenPermission = "--request-screen-permission";
constexpr std::string_view kOnce = "--once";
constexpr std::string_view kVisual = "--visual";
constexpr std::string_view kControls = "--controls";
constexpr std::string_view kScene = "--scene";
constexpr std::string_view kPlatform = "--platform";
constexpr std::string_view kCaptureState = "--capture-state";
constexpr std::string_view kHelp = "--help";
constexpr std::string_view kVersion = "--version";

// Every option some part of the program reads: the entry's own, the capture
// broker's and those that choose the desktop.
constexpr std::string_view kKnownOptions[] = {
    kPermissionStatus, kRequestScreenPermission, kOnce, kVisual, kControls, kScene, kPlatform,
    kCaptureState,     "--allow-screen-capture",  kHelp, kVersion,
};

// Options whose next word is their value.
bool takesValue(std::string_view option) { return option == kScene || option == kPlatform || option == kCaptureState; }

bool isKnown(std::string_view option) {
    for (const std::string_view known : kKnownOptions)
        if (option == known) return true;
    return false;
}

}  // namespace

std::span<const std::string_view> knownOptions() { return kKnownOptions; }

std::optional<std::int32_t> parseInt32(std::string_view text) {
    const auto decimal = parseDecimal(text);
    if (!decimal) return std::nullopt;
    const std::uint64_t limit = std::uint64_t{std::numeric_limits<std::int32_t>::max()} + (decimal->negative ? 1 : 0);
    if (decimal->magnitude > limit) return std::nullopt;
    const auto magnitude = static_cast<std::int64_t>(decimal->magnitude);
    return static_cast<std::int32_t>(decimal->negative ? -magnitude : magnitude);
}

CommandLine parseCommandLine(const Arguments& arguments) {
    CommandLine line;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        // The words after "--scene" and "--platform" are their values, never process ids.
        const bool optionValue = i > 1 && (arguments[i - 1] == kScene || arguments[i - 1] == kPlatform);
        if (const auto pid = parseInt32(argument); pid && !optionValue) line.excludedPIDs.insert(*pid);
        line.permissionStatus |= argument == kPermissionStatus;
        line.requestScreenPermission |= argument == kRequestScreenPermission;
        line.once |= argument == kOnce;
        line.visual |= argument == kVisual;
        line.controls |= argument == kControls;
        line.help |= argument == kHelp;
        line.version |= argument == kVersion;
        const bool value = i > 1 && takesValue(arguments[i - 1]);
        if (!value && argument.starts_with("--") && !isKnown(argument)) line.unknownOptions.push_back(argument);
    }
    return line;
}

}  // namespace scene
