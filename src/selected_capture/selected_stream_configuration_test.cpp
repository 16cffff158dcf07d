#include "selected_capture/selected_stream_configuration.h"

#include <gtest/gtest.h>

#include <limits>

namespace scene {
namespace {

TEST(SelectedStreamConfigurationTest, SizeStaysWithinPointsSideAndPixelLimits) {
    struct Case {
        const char* name;
        Rect bounds;
        int width;
        int height;
    };
    const Case cases[] = {
        {"laptop display kept at its size in points", {0, 0, 1512, 982}, 1512, 982},
        {"4K display held to eight million pixels", {0, 0, 3840, 2160}, 3771, 2121},
        {"wide display held to 4096 pixels a side", {0, 0, 5120, 1440}, 4096, 1152},
        {"display left of the main one", {-1920, 0, 1920, 1080}, 1920, 1080},
        {"sliver below two pixels becomes one", {0, 0, 1.5, 900}, 1, 900},
        {"empty display", {0, 0, 0, 0}, 1, 1},
        {"unknown display", Rect::null(), 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const StreamConfiguration configuration = selectedStreamConfiguration(c.bounds);
        EXPECT_EQ(configuration.width, c.width);
        EXPECT_EQ(configuration.height, c.height);
    }
}

TEST(SelectedStreamConfigurationTest, LowRateOpaqueBGRAWithoutCursorOrAudio) {
    const StreamConfiguration configuration = selectedStreamConfiguration({0, 0, 1512, 982});
    EXPECT_EQ(configuration.pixelFormat, 1111970369u);
    EXPECT_EQ(configuration.colorSpaceName, "kCGColorSpaceSRGB");
    EXPECT_TRUE(configuration.shouldBeOpaque);
    EXPECT_DOUBLE_EQ(configuration.minimumFrameInterval, 0.2);
    EXPECT_EQ(configuration.queueDepth, 3);
    EXPECT_FALSE(configuration.showsCursor);
    EXPECT_FALSE(configuration.capturesAudio);
}

}  // namespace
}  // namespace scene
