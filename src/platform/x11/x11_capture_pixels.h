#pragma once

#include <cstddef>
#include <cstdint>

namespace scene::x11 {

// Rows of 32-bit server pixels: blue, green, red and a fourth byte that means
// nothing on a true-colour screen of depth 24.
struct ServerPixels {
    const std::uint8_t* data = nullptr;
    std::size_t stride = 0;  // bytes per row
    int width = 0;
    int height = 0;
};

// Writes `source` into `target` (width x height, `targetStride` bytes a row)
// as opaque BGRA: alpha 255, so the frame is already premultiplied. Equal
// sizes are copied; a smaller target gets the average of the pixels each of
// its pixels covers, a larger one the nearest pixel. Pure; any thread.
void writeOpaqueBGRA(const ServerPixels& source, std::uint8_t* target, std::size_t targetStride, int width, int height);

}  // namespace scene::x11
