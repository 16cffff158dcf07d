#include "visual/visual_gray_pixels.h"

#include <cstddef>
#include <cstdint>

namespace scene {
namespace {

// Rec. 601 luma in 256ths; the weights sum to 256 so white stays 255.
constexpr std::uint16_t kRedWeight = 77;
constexpr std::uint16_t kGreenWeight = 150;
constexpr std::uint16_t kBlueWeight = 29;

}  // namespace

std::optional<GrayBuffer> visualGrayPixels(const Image& image) {
    const int width = image.width();
    const int height = image.height();
    if (width < 1 || height < 1 || width > kVisualMaximumPixels || height > kVisualMaximumPixels) return std::nullopt;

    GrayBuffer gray;
    gray.width = width;
    gray.height = height;
    gray.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* source = image.row(y);
        std::uint8_t* target = gray.pixels.data() + static_cast<std::size_t>(y) * width;
        // The weighted sum tops out at 65,408, so sixteen-bit lanes suffice.
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = source + static_cast<std::size_t>(x) * 4;
            const auto luma =
                static_cast<std::uint16_t>(kBlueWeight * p[0] + kGreenWeight * p[1] + kRedWeight * p[2] + 128u);
            target[x] = static_cast<std::uint8_t>(luma >> 8);
        }
    }
    return gray;
}

}  // namespace scene
