#pragma once

#include <optional>

#include "platform/image.h"
#include "platform/rect.h"

namespace scene {

// The part of a frame that shows `region`, at exactly width x height pixels.
// `image` covers `bounds` (global points); the region must lie inside them.
// Nothing for regions outside the frame or sizes beyond what a stream frame
// could hold.
std::optional<Image> selectedRegionCrop(const Image& image, const Rect& bounds, const Rect& region, int width,
                                        int height);

}  // namespace scene
