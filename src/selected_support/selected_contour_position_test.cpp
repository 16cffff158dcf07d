#include "selected_support/selected_contour_position.h"

#include <gtest/gtest.h>

#include <cmath>

namespace scene {
namespace {

Json bounds(const Rect& r) { return Json{{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}}; }

const Rect kFound{200, 300, 400, 250};

Json contour(const std::string& side) {
    return Json{{"source", "selected-contour"},
                {"ownerId", "w"},
                {"ownerBounds", bounds(kFound)},
                {"side", side},
                {"from", 100.0},
                {"to", 300.0},
                {"fixed", 50.0},
                {"id", "keep-me"}};
}

using Owners = std::unordered_map<std::string, Rect>;

TEST(PositionedSelectedContour, FollowsAnOwnerThatMoved) {
    const Rect moved{230, 290, 400, 250};
    struct Case {
        const char* side;
        double from, to, fixed;
    };
    for (const Case c : {Case{"top", 130, 330, 40}, Case{"bottom", 130, 330, 40}, Case{"left", 90, 290, 80},
                         Case{"right", 90, 290, 80}}) {
        SCOPED_TRACE(c.side);
        const auto result = positionedSelectedContour(contour(c.side), Owners{{"w", moved}});
        ASSERT_TRUE(result);
        EXPECT_EQ((*result)["from"], c.from);
        EXPECT_EQ((*result)["to"], c.to);
        EXPECT_EQ((*result)["fixed"], c.fixed);
        EXPECT_EQ((*result)["ownerBounds"], bounds(moved));
        EXPECT_EQ((*result)["id"], "keep-me");
        EXPECT_TRUE((*result)["from"].is_number_float()) << "stays a double for the next move";
    }
}

TEST(PositionedSelectedContour, ToleratesRoundingButNotResizing) {
    const auto widened = [](double by) { return Owners{{"w", Rect{kFound.x, kFound.y, kFound.width + by, 250}}}; };
    EXPECT_TRUE(positionedSelectedContour(contour("top"), widened(0.7)));
    EXPECT_FALSE(positionedSelectedContour(contour("top"), widened(0.75)));
    EXPECT_FALSE(positionedSelectedContour(contour("top"), Owners{{"w", Rect{200, 300, 400, 249.2}}}));
    // Stored flipped, the same rectangle: not a resize.
    EXPECT_TRUE(positionedSelectedContour(contour("top"), Owners{{"w", Rect{600, 300, -400, 250}}}));
}

TEST(PositionedSelectedContour, RejectsRecordsItCannotPlace) {
    const Owners owners{{"w", kFound}};
    const auto without = [](const char* key) {
        Json record = contour("top");
        record.erase(key);
        return record;
    };
    const auto with = [](const char* key, const Json& value) {
        Json record = contour("top");
        record[key] = value;
        return record;
    };
    struct Case {
        const char* name;
        Json record;
        Owners owners;
    };
    const Case cases[] = {
        {"no source", without("source"), owners},
        {"other source", with("source", "visual"), owners},
        {"owner gone", contour("top"), Owners{{"other", kFound}}},
        {"owner width not a number", contour("top"), Owners{{"w", Rect{200, 300, std::nan(""), 250}}}},
        {"found height not a number", with("ownerBounds", bounds(Rect{200, 300, 400, std::nan("")})), owners},
        {"owner id not a string", with("ownerId", 1), owners},
        {"bounds missing", without("ownerBounds"), owners},
        {"bounds unreadable", with("ownerBounds", Json{{"x", "200"}, {"y", 300}, {"width", 400}, {"height", 250}}),
         owners},
        {"from stored as an integer", with("from", 100), owners},
        {"fixed missing", without("fixed"), owners},
        {"side not a string", with("side", 0), owners},
    };
    for (const Case& c : cases) EXPECT_FALSE(positionedSelectedContour(c.record, c.owners)) << c.name;
    // Integer owner bounds are still bounds.
    EXPECT_TRUE(positionedSelectedContour(
        with("ownerBounds", Json{{"x", 200}, {"y", 300}, {"width", 400}, {"height", 250}}), owners));
}

}  // namespace
}  // namespace scene
