#pragma once

#include <optional>

#include "platform/image.h"
#include "platform/screen_capture.h"

namespace scene {

// A copy of a stream frame's pixels, or nothing for buffers a stream of ours
// could not have produced: not BGRA, more than 4096 pixels a side or 8,000,000
// pixels, rows shorter than the width, more than 36 MiB, or unreadable.
std::optional<Image> selectedFrameImage(const PixelBuffer& buffer);

}  // namespace scene
