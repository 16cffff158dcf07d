#include "platform/image.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace scene {
namespace {

// A width x height picture whose pixel (x, y) is 0xFF00YYXX, so every pixel
// names its own position.
Image positions(int width, int height, std::size_t stride) {
    std::vector<std::uint8_t> bytes(stride * static_cast<std::size_t>(height), 0xEE);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = bytes.data() + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 4;
            p[0] = static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(y);
            p[2] = 0;
            p[3] = 0xFF;
        }
    }
    return Image(width, height, stride, std::move(bytes));
}

TEST(ImageTest, ConstructionRejectsStorageThatCannotHoldThePicture) {
    EXPECT_TRUE(Image(2, 2, 8, std::vector<std::uint8_t>(16)).width() == 2);
    // The last row needs only width * 4 bytes, not a whole stride.
    EXPECT_FALSE(Image(2, 2, 12, std::vector<std::uint8_t>(20)).empty());
    EXPECT_TRUE(Image(2, 2, 12, std::vector<std::uint8_t>(19)).empty());
    EXPECT_TRUE(Image(2, 2, 4, std::vector<std::uint8_t>(64)).empty());
    EXPECT_TRUE(Image(0, 2, 8, std::vector<std::uint8_t>(64)).empty());
    EXPECT_TRUE(Image().empty());
}

TEST(ImageTest, FilledImagesReadBackTheirColour) {
    const Image image = Image::filled(3, 2, 0x80102030);
    EXPECT_EQ(image.pixel(0, 0), 0x80102030u);
    EXPECT_EQ(image.pixel(2, 1), 0x80102030u);
    EXPECT_EQ(image.row(0)[0], 0x30);  // blue first
    EXPECT_EQ(image.row(0)[3], 0x80);  // alpha last
    EXPECT_TRUE(Image::filled(0, 2, 0).empty());
}

TEST(ImageTest, CropSharesStorageAndClampsToTheImage) {
    const Image image = positions(6, 5, 32);
    struct Case {
        const char* name;
        int x, y, width, height;
        int expectedX, expectedY, expectedWidth, expectedHeight;
    };
    const Case cases[] = {
        {"inside", 1, 2, 3, 2, 1, 2, 3, 2},
        {"over the top left", -2, -1, 4, 3, 0, 0, 2, 2},
        {"over the bottom right", 4, 3, 10, 10, 4, 3, 2, 2},
        {"everything and more", -5, -5, 50, 50, 0, 0, 6, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto crop = image.cropped(c.x, c.y, c.width, c.height);
        ASSERT_TRUE(crop);
        EXPECT_EQ(crop->width(), c.expectedWidth);
        EXPECT_EQ(crop->height(), c.expectedHeight);
        EXPECT_EQ(crop->stride(), image.stride());
        EXPECT_EQ(crop->row(0), image.row(c.expectedY) + c.expectedX * 4);  // no copy
        EXPECT_EQ(crop->pixel(crop->width() - 1, crop->height() - 1),
                  image.pixel(c.expectedX + c.expectedWidth - 1, c.expectedY + c.expectedHeight - 1));
    }
    EXPECT_FALSE(image.cropped(6, 0, 2, 2));
    EXPECT_FALSE(image.cropped(-3, 0, 3, 2));
    EXPECT_FALSE(image.cropped(1, 1, 0, 2));
    EXPECT_FALSE(image.cropped(1, 1, -2, 2));
    EXPECT_FALSE(Image().cropped(0, 0, 1, 1));

    // Crops of crops add up their offsets.
    const auto inner = image.cropped(1, 1, 4, 3)->cropped(1, 1, 2, 2);
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->pixel(0, 0), image.pixel(2, 2));
    EXPECT_EQ(inner->pixel(1, 1), image.pixel(3, 3));
}

TEST(ImageTest, ScalingAveragesTheSourceArea) {
    // Two columns of 2x2 blocks: left all 10, right alternating 20 and 41.
    std::vector<std::uint8_t> bytes;
    const std::uint8_t values[2][4] = {{10, 10, 20, 41}, {10, 10, 41, 20}};
    for (const auto& row : values) {
        for (const std::uint8_t v : row) bytes.insert(bytes.end(), {v, v, v, 255});
    }
    const Image image(4, 2, 16, std::move(bytes));

    const auto half = image.scaled(2, 1);
    ASSERT_TRUE(half);
    EXPECT_EQ(half->width(), 2);
    EXPECT_EQ(half->height(), 1);
    EXPECT_EQ(half->row(0)[0], 10);
    EXPECT_EQ(half->row(0)[4], 31);  // (20 + 41 + 41 + 20) / 4 = 30.5, rounded
    EXPECT_EQ(half->row(0)[7], 255);

    // A non-integral factor still reaches the last source column.
    const auto third = positions(3, 1, 12).scaled(2, 1);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->row(0)[0], 0);
    EXPECT_EQ(third->row(0)[4], 2);  // columns 1 and 2 average to 1.5, rounded

    // Enlarging repeats pixels; scaling a crop reads through its stride.
    const auto crop = positions(6, 5, 32).cropped(2, 3, 1, 1);
    const auto enlarged = crop->scaled(3, 2);
    ASSERT_TRUE(enlarged);
    EXPECT_EQ(enlarged->stride(), 12u);
    EXPECT_EQ(enlarged->pixel(0, 0), 0xFF000302u);
    EXPECT_EQ(enlarged->pixel(2, 1), 0xFF000302u);

    EXPECT_FALSE(image.scaled(0, 1));
    EXPECT_FALSE(Image().scaled(1, 1));
}

}  // namespace
}  // namespace scene

namespace scene {
namespace {

// Whole-image means, through both the vector path and, past 8,000,000 pixels a
// span, the scalar one; a colour that is uniform must come out unchanged.
TEST(ImageScaling, LargeSpansKeepTheMean) {
    for (const int side : {1000, 3000}) {
        const Image image = Image::filled(side, side, 0xffc86432);
        const auto one = image.scaled(1, 1);
        ASSERT_TRUE(one);
        EXPECT_EQ(one->pixel(0, 0), 0xffc86432u) << side;
    }
}

}  // namespace
}  // namespace scene

namespace scene {
namespace {

// Channel values spread over the whole byte range, through the sixteen-pixel
// steps and the tail, on a crop whose rows are padded: the Rec. 601 weights in
// 256ths.
TEST(ImageGray, MatchesTheWeightedSumOfEachPixel) {
    constexpr int kWidth = 256 + 7;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kWidth) * 4 * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + i / 7);
    const auto image = Image(kWidth, 3, kWidth * 4, std::move(bytes)).cropped(1, 1, kWidth - 2, 2);
    ASSERT_TRUE(image);
    const GrayBuffer gray = grayPixels(*image);
    ASSERT_EQ(gray.width, kWidth - 2);
    ASSERT_EQ(gray.height, 2);
    for (int y = 0; y < gray.height; ++y) {
        for (int x = 0; x < gray.width; ++x) {
            const std::uint32_t p = image->pixel(x, y);
            const std::uint32_t expected = (29 * (p & 0xff) + 150 * ((p >> 8) & 0xff) + 77 * ((p >> 16) & 0xff) + 128) >> 8;
            ASSERT_EQ(gray.at(x, y), expected) << x << "," << y;
        }
    }
    const GrayBuffer white = grayPixels(Image::filled(40, 1, 0xffffffff));
    EXPECT_EQ(white.at(39, 0), 255);
    EXPECT_EQ(white.at(0, 0), 255);
}

}  // namespace
}  // namespace scene
