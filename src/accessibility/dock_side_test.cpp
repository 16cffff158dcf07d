#include "accessibility/dock_side.h"

#include <gtest/gtest.h>

namespace scene {
namespace {

TEST(DockSideTest, ShelvesAlongDisplayEdges) {
    const Rect display{0, 0, 1440, 900};
    struct Case {
        const char* name;
        Rect rect;
        std::optional<std::string> side;
    };
    const Case cases[] = {
        {"bottom shelf 10 above the edge", {120, 820, 1200, 70}, "bottom"},
        {"bottom shelf 24 above the edge", {120, 806, 1200, 70}, "bottom"},
        {"bottom shelf 25 above the edge", {120, 805, 1200, 70}, std::nullopt},
        {"bar in the upper half", {120, 100, 1200, 70}, std::nullopt},
        {"shelf too thick", {0, 570, 1440, 330}, std::nullopt},
        {"shelf too short", {600, 830, 99, 70}, std::nullopt},
        {"left shelf", {0, 150, 70, 600}, "left"},
        {"right shelf", {1370, 150, 70, 600}, "right"},
        {"upright bar mid display", {700, 150, 70, 600}, std::nullopt},
        {"square", {0, 500, 400, 400}, std::nullopt},
        {"8-point overlap", {120, 892, 1200, 70}, std::nullopt},
        {"off display", {2000, 820, 1200, 70}, std::nullopt},
        {"negative extents standardise", {1320, 890, -1200, -70}, "bottom"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dockSide(c.rect, display), c.side);
    }
}

}  // namespace
}  // namespace scene
