#pragma once

#include <optional>

#include "platform/image.h"
#include "platform/pixel_pool.h"
#include "platform/screen_capture.h"

namespace scene {

// A copy of a stream frame's pixels, or nothing for buffers a stream of ours
// could not have produced: not BGRA, more than 4096 pixels a side or 8,000,000
// pixels, rows shorter than the width, more than 36 MiB, or unreadable. The
// copy's storage comes from `copies`: a steady stream then reuses a few
// frame-sized blocks instead of asking the allocator for tens of megabytes
// several times a second, which also keeps the resident size from settling
// wherever the allocator's thresholds happen to put it.
std::optional<Image> selectedFrameImage(const PixelBuffer& buffer, PixelPool& copies);

}  // namespace scene
