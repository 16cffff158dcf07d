#include "core/command_line.h"

#include <algorithm>
#include <limits>

namespace scene {
namespace {

constexpr std::string_view kPermissionStatus = "--permission-status";
constexpr std::string_view kRequestScreenPermission = "--request-screen-permission";
constexpr std::string_view kOnce = "--once";
constexpr std::string_view kVisual = "--visual";
constexpr std::string_view kControls = "--controls";
constexpr std::string_view kScene = "--scene";

}  // namespace

std::optional<std::int32_t> parseInt32(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

CommandLine parseCommandLine(const Arguments& arguments) {
    CommandLine line;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool scenePath = i > 1 && arguments[i - 1] == kScene;
        if (const auto pid = parseInt32(argument); pid && !scenePath) line.excludedPIDs.insert(*pid);
        line.permissionStatus |= argument == kPermissionStatus;
        line.requestScreenPermission |= argument == kRequestScreenPermission;
        line.once |= argument == kOnce;
        line.visual |= argument == kVisual;
        line.controls |= argument == kControls;
    }
    return line;
}

bool hasArgument(const Arguments& arguments, std::string_view argument) {
    return std::find(arguments.begin() + std::min<std::size_t>(1, arguments.size()), arguments.end(), argument) !=
           arguments.end();
}

}  // namespace scene
