#include "visual/visual_gray_pixels.h"

#include <gtest/gtest.h>

#include <vector>

namespace scene {
namespace {

TEST(VisualGrayPixelsTest, RefusesSizesOutsideTheAnalysableRange) {
    EXPECT_FALSE(visualGrayPixels(Image()));
    EXPECT_FALSE(visualGrayPixels(Image::filled(800, 600, 0xff808080)));
    EXPECT_FALSE(visualGrayPixels(Image::filled(768, 769, 0xff808080)));
    const auto largest = visualGrayPixels(Image::filled(768, 768, 0xff808080));
    ASSERT_TRUE(largest);
    EXPECT_EQ(largest->pixels.size(), 589824u);
}

TEST(VisualGrayPixelsTest, LuminanceTopRowFirstWithTransparencyBlack) {
    // BGRA, premultiplied: white, transparent / black, pure green; then a
    // crop of the right column, whose rows start inside the shared storage.
    const std::vector<std::uint8_t> bytes = {255, 255, 255, 255, 0, 0,   0, 0,  //
                                             0,   0,   0,   255, 0, 255, 0, 255};
    const Image image(2, 2, 8, bytes);
    const auto gray = visualGrayPixels(image);
    ASSERT_TRUE(gray);
    EXPECT_EQ(gray->width, 2);
    EXPECT_EQ(gray->height, 2);
    EXPECT_EQ(gray->pixels, (std::vector<std::uint8_t>{255, 0, 0, 149}));

    const auto column = visualGrayPixels(*image.cropped(1, 0, 1, 2));
    ASSERT_TRUE(column);
    EXPECT_EQ(column->pixels, (std::vector<std::uint8_t>{0, 149}));
}

}  // namespace
}  // namespace scene
