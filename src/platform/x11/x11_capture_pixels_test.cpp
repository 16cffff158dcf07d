#include "platform/x11/x11_capture_pixels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace scene::x11 {
namespace {

// Server rows of `width` pixels padded to `stride` bytes, from 0x00RRGGBB
// words; the unused fourth byte is set to garbage as a server may leave it.
std::vector<std::uint8_t> serverRows(const std::vector<std::uint32_t>& words, int width, std::size_t stride) {
    const std::size_t height = words.size() / static_cast<std::size_t>(width);
    std::vector<std::uint8_t> bytes(stride * height, 0xEE);
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::uint8_t* p = bytes.data() + (i / width) * stride + (i % width) * 4;
        p[0] = static_cast<std::uint8_t>(words[i]);
        p[1] = static_cast<std::uint8_t>(words[i] >> 8);
        p[2] = static_cast<std::uint8_t>(words[i] >> 16);
        p[3] = 0x5A;
    }
    return bytes;
}

// The target as 0xAARRGGBB words, read within `stride`.
std::vector<std::uint32_t> words(const std::vector<std::uint8_t>& target, int width, int height, std::size_t stride) {
    std::vector<std::uint32_t> result;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = target.data() + y * stride + x * 4;
            result.push_back(std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0]);
        }
    }
    return result;
}

struct Case {
    const char* name;
    int sourceWidth;
    std::vector<std::uint32_t> source;
    int width;
    int height;
    std::vector<std::uint32_t> expected;
};

TEST(X11CapturePixels, CopiesAveragesOrRepeatsIntoOpaqueBGRA) {
    const Case cases[] = {
        {"same size is a copy with alpha set",
         2,
         {0x102030, 0x405060, 0x708090, 0xA0B0C0},
         2,
         2,
         {0xFF102030, 0xFF405060, 0xFF708090, 0xFFA0B0C0}},
        {"a wide copy sets alpha in blocks of pixels and in the tail, on aligned and unaligned rows",
         7,
         {0x000001, 0x000002, 0x000003, 0x000004, 0x000005, 0x000006, 0x000007,  //
          0x000008, 0x000009, 0x00000A, 0x00000B, 0x00000C, 0x00000D, 0x00000E},
         7,
         2,
         {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004, 0xFF000005, 0xFF000006, 0xFF000007,  //
          0xFF000008, 0xFF000009, 0xFF00000A, 0xFF00000B, 0xFF00000C, 0xFF00000D, 0xFF00000E}},
        {"halving averages each 2x2 block, rounded",
         4,
         {0x000000, 0x020406, 0xFFFFFF, 0xFFFFFF,  //
          0x000000, 0x010101, 0xFFFFFF, 0xFFFFFF},
         2,
         1,
         {0xFF010102, 0xFFFFFFFF}},
        {"enlarging repeats the nearest pixel",
         2,
         {0x112233, 0x445566},
         4,
         1,
         {0xFF112233, 0xFF112233, 0xFF445566, 0xFF445566}},
        {"an uneven ratio leaves a flat colour flat", 3, std::vector<std::uint32_t>(9, 0x7F3A10), 2, 2,
         std::vector<std::uint32_t>(4, 0xFF7F3A10)},
        {"one axis shrinks while the other grows", 2, {0x000000, 0x0000FE}, 1, 2, {0xFF00007F, 0xFF00007F}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Padded rows on both sides: strides are honoured, not assumed.
        const std::size_t sourceStride = c.sourceWidth * 4 + 8;
        const std::vector<std::uint8_t> rows = serverRows(c.source, c.sourceWidth, sourceStride);
        const int sourceHeight = static_cast<int>(c.source.size()) / c.sourceWidth;
        const std::size_t targetStride = c.width * 4 + 12;
        std::vector<std::uint8_t> target(targetStride * c.height, 0);
        writeOpaqueBGRA({rows.data(), sourceStride, c.sourceWidth, sourceHeight}, target.data(), targetStride, c.width,
                        c.height);
        EXPECT_EQ(words(target, c.width, c.height, targetStride), c.expected);
        for (int y = 0; y < c.height; ++y)
            for (std::size_t pad = c.width * 4; pad < targetStride; ++pad)
                EXPECT_EQ(target[y * targetStride + pad], 0) << "wrote past the row at y " << y;
    }
}

}  // namespace
}  // namespace scene::x11
