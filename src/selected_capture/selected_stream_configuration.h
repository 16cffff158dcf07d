#pragma once

#include "platform/rect.h"
#include "platform/screen_capture.h"

namespace scene {

// The stream configuration for a display of `bounds` (points): BGRA in sRGB, at
// most five frames a second, never larger than the display's size in points,
// at most 4096 pixels a side and 8,000,000 pixels a frame, without cursor or
// audio.
StreamConfiguration selectedStreamConfiguration(const Rect& bounds);

}  // namespace scene
