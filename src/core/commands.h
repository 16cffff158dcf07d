#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace scene::commands {

// The command lines the companion writes, matched whole unless a prefix.
inline constexpr std::string_view kPause = "pause";
inline constexpr std::string_view kCaptureSelect = "capture-select";
inline constexpr std::string_view kCaptureRetry = "capture-retry";
inline constexpr std::string_view kResume = "resume";
inline constexpr std::string_view kVisualOn = "visual-on";
inline constexpr std::string_view kVisualOff = "visual-off";
inline constexpr std::string_view kInputsOn = "inputs-on";
inline constexpr std::string_view kInputsOff = "inputs-off";
inline constexpr std::string_view kControlsOn = "controls-on";
inline constexpr std::string_view kControlsOff = "controls-off";
inline constexpr std::string_view kAnchorPrefix = "anchor ";
inline constexpr std::string_view kRatePrefix = "rate ";
inline constexpr std::string_view kCaptureSnapshotPrefix = "capture-snapshot ";
inline constexpr std::string_view kQuit = "quit";

inline constexpr std::int32_t kMinimumRate = 33;
inline constexpr std::int32_t kMaximumRate = 500;

// The pass period in milliseconds a "rate " argument asks for, clamped to
// 33...500; nothing when the argument is not a decimal integer.
std::optional<std::int32_t> passRate(std::string_view argument);

}  // namespace scene::commands
