#include "selected_capture/selected_region_crop.h"

#include <limits>

#include <gtest/gtest.h>

#include "selected_capture/selected_rect_metrics.h"

namespace scene {
namespace {

// 200 x 100 pixels covering a 100 x 50 point display at (1000, 0): two pixels
// a point. Each pixel's blue and green bytes encode its x and y.
Image gradient() {
    std::vector<std::uint8_t> bytes(200 * 100 * 4);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x) {
            std::uint8_t* p = bytes.data() + (y * 200 + x) * 4;
            p[0] = static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(y);
            p[3] = 255;
        }
    return Image(200, 100, 200 * 4, std::move(bytes));
}

const Rect kBounds{1000, 0, 100, 50};

TEST(SelectedRegionCropTest, ExactPixelSizeIsCutWithoutRescaling) {
    const auto crop = selectedRegionCrop(gradient(), kBounds, {1010, 5, 20, 10}, 40, 20);
    ASSERT_TRUE(crop);
    EXPECT_EQ(crop->width(), 40);
    EXPECT_EQ(crop->height(), 20);
    EXPECT_EQ(crop->pixel(0, 0) & 0xFFFF, 0x0A14u) << "starts at pixel (20, 10)";
    EXPECT_EQ(crop->pixel(39, 19) & 0xFFFF, 0x1D3Bu);
}

TEST(SelectedRegionCropTest, OtherSizesAreScaled) {
    const auto crop = selectedRegionCrop(gradient(), kBounds, kBounds, 50, 25);
    ASSERT_TRUE(crop);
    EXPECT_EQ(crop->width(), 50);
    EXPECT_EQ(crop->height(), 25);
}

TEST(SelectedRegionCropTest, Refusals) {
    struct Case {
        const char* name;
        Rect region;
        int width;
        int height;
    };
    const Case cases[] = {
        {"ten points outside", {990, 0, 20, 10}, 10, 10},
        {"past the bottom edge", {1000, 45, 10, 10}, 10, 10},
        {"empty region", {1010, 5, 0, 10}, 10, 10},
        {"null region", Rect::null(), 10, 10},
        {"zero width", {1010, 5, 20, 10}, 0, 10},
        {"side too long", {1010, 5, 20, 10}, 4097, 10},
        {"too many pixels", {1010, 5, 20, 10}, 4000, 2001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(selectedRegionCrop(gradient(), kBounds, c.region, c.width, c.height));
    }
}

TEST(SelectedRegionCropTest, BoundsWhosePixelRectCannotBeComputedAreRefused) {
    // A denormal extent makes the pixels per point infinite.
    const double tiny = std::numeric_limits<double>::denorm_min();
    EXPECT_FALSE(selectedRegionCrop(gradient(), {0, 0, tiny, tiny}, {0, 0, tiny, tiny}, 16, 16));
    // At 1e20 a point is lost in the rounding: a region 4000 points wide fits
    // bounds one point wide, and would be 800,000 pixels of a 200-pixel frame.
    EXPECT_FALSE(selectedRegionCrop(gradient(), {1e20, 0, 1, 50}, {1e20, 0, 4000, 10}, 16, 16));
}

TEST(SelectedRectMetricsTest, FiniteRectsOnly) {
    EXPECT_EQ(selectedRectMetrics(Rect{1, 2, -3, 4}), (Json{{"x", -2.0}, {"y", 2.0}, {"width", 3.0}, {"height", 4.0}}));
    EXPECT_TRUE(selectedRectMetrics(Rect{1, 2, 3, 4}).at("x").is_number_float());
    EXPECT_TRUE(selectedRectMetrics(std::nullopt).is_null());
    EXPECT_TRUE(selectedRectMetrics(Rect{0, 0, std::numeric_limits<double>::infinity(), 4}).is_null());
    EXPECT_TRUE(selectedRectMetrics(Rect::null()).is_null());
}

}  // namespace
}  // namespace scene
