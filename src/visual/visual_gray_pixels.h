#pragma once

#include <optional>

#include "platform/image.h"

namespace scene {

// Largest side, in pixels, that edge analysis accepts; captures are requested
// at most this large.
inline constexpr int kVisualMaximumPixels = 768;

// The image as 8-bit luminance at its own size, top row first. Pixels are
// premultiplied, so transparent areas come out black, as if drawn over black.
// Nothing when a side is outside 1...768.
std::optional<GrayBuffer> visualGrayPixels(const Image& image);

}  // namespace scene
