#include "visual/visual_gray_pixels.h"

namespace scene {

std::optional<GrayBuffer> visualGrayPixels(const Image& image) {
    const int width = image.width();
    const int height = image.height();
    if (width < 1 || height < 1 || width > kVisualMaximumPixels || height > kVisualMaximumPixels) return std::nullopt;
    return grayPixels(image);
}

}  // namespace scene
