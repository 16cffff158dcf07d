#pragma once

#include <string_view>

namespace scene::simulated {

// The capture service's own words, as its clients read them.
inline constexpr std::string_view kStreamErrorDomain = "SCStreamErrorDomain";

inline constexpr std::string_view kFrameInfoStatus = "SCStreamFrameInfoStatus";
inline constexpr std::string_view kFrameInfoContentRect = "SCStreamFrameInfoContentRect";
inline constexpr std::string_view kFrameInfoScreenRect = "SCStreamFrameInfoScreenRect";
inline constexpr std::string_view kFrameInfoScaleFactor = "SCStreamFrameInfoScaleFactor";
inline constexpr std::string_view kFrameInfoContentScale = "SCStreamFrameInfoContentScale";

// A rectangle's dictionary representation.
inline constexpr std::string_view kRectX = "X";
inline constexpr std::string_view kRectY = "Y";
inline constexpr std::string_view kRectWidth = "Width";
inline constexpr std::string_view kRectHeight = "Height";

inline constexpr std::string_view kPickerQueueLabel = "simulated-capture.picker";
inline constexpr std::string_view kServiceQueueLabel = "simulated-capture.service";

}  // namespace scene::simulated
