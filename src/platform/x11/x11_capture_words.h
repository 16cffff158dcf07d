#pragma once

#include <string>
#include <string_view>

#include "platform/platform_error.h"

namespace scene::x11 {

// Why screen capture of an X desktop did not start or stopped on its own.
inline constexpr std::string_view kCaptureErrorDomain = "scene.x11.capture";
inline constexpr long kCaptureNoMonitor = 1;          // no monitor to offer, or none the filter names
inline constexpr long kCaptureConnectionFailed = 2;   // the display cannot be opened
inline constexpr long kCaptureConnectionLost = 3;     // the server closed or broke the connection
inline constexpr long kCaptureMonitorGone = 4;        // the captured monitor was unplugged or switched off
inline constexpr long kCaptureUnsupportedFormat = 5;  // not 32-bit true colour, or a size or format we cannot make
inline constexpr long kCaptureNoThread = 6;           // the system refused a capture thread

inline PlatformError captureError(long code) { return PlatformError{std::string(kCaptureErrorDomain), code}; }

// The frame-info keys of a sample buffer's attachments, as the capture
// service's clients read them.
inline constexpr std::string_view kFrameInfoStatus = "SCStreamFrameInfoStatus";
inline constexpr std::string_view kFrameInfoContentRect = "SCStreamFrameInfoContentRect";
inline constexpr std::string_view kFrameInfoScreenRect = "SCStreamFrameInfoScreenRect";
inline constexpr std::string_view kFrameInfoScaleFactor = "SCStreamFrameInfoScaleFactor";
inline constexpr std::string_view kFrameInfoContentScale = "SCStreamFrameInfoContentScale";
inline constexpr long kFrameStatusComplete = 0;

// A rectangle's dictionary representation.
inline constexpr std::string_view kRectX = "X";
inline constexpr std::string_view kRectY = "Y";
inline constexpr std::string_view kRectWidth = "Width";
inline constexpr std::string_view kRectHeight = "Height";

inline constexpr std::string_view kCaptureQueueLabel = "x11.capture";

}  // namespace scene::x11
