#include "platform/rect.h"

#include <gtest/gtest.h>

namespace scene {
namespace {

TEST(RectTest, QueriesWorkOnTheStandardisedRectangle) {
    const Rect flipped{10, 20, -5, -8};
    EXPECT_EQ(flipped.standardized().x, 5);
    EXPECT_EQ(flipped.standardized().y, 12);
    EXPECT_EQ(flipped.standardized().width, 5);
    EXPECT_EQ(flipped.standardized().height, 8);
    EXPECT_EQ(flipped.minX(), 5);
    EXPECT_EQ(flipped.maxX(), 10);
    EXPECT_EQ(flipped.minY(), 12);
    EXPECT_EQ(flipped.maxY(), 20);
    EXPECT_EQ(flipped.midX(), 7.5);
    EXPECT_EQ(flipped.midY(), 16);
    EXPECT_EQ(flipped.absWidth(), 5);
    EXPECT_EQ(flipped.absHeight(), 8);
    EXPECT_TRUE(flipped.contains({5, 12}));
    EXPECT_FALSE(flipped.contains({10, 15}));  // the far edges are outside
    EXPECT_FALSE(flipped.contains({7, 20}));
}

TEST(RectTest, EqualityComparesStandardisedRectanglesAndKeepsNullApart) {
    EXPECT_EQ((Rect{0, 0, 10, 10}), (Rect{10, 10, -10, -10}));
    EXPECT_NE((Rect{0, 0, 10, 10}), (Rect{0, 0, 10, 11}));
    EXPECT_EQ(Rect::null(), Rect::null());
    EXPECT_NE(Rect::null(), (Rect{0, 0, 0, 0}));
    EXPECT_EQ(Rect::infinite(), Rect::infinite());
}

TEST(RectTest, Classification) {
    struct Case {
        const char* name;
        Rect rect;
        bool null;
        bool infinite;
        bool empty;
    };
    const Case cases[] = {
        {"ordinary", {1, 2, 3, 4}, false, false, false},
        {"flipped", {1, 2, -3, -4}, false, false, false},
        {"zero width", {1, 2, 0, 4}, false, false, true},
        {"zero height", {1, 2, 3, 0}, false, false, true},
        {"null", Rect::null(), true, false, true},
        {"infinite", Rect::infinite(), false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.rect.isNull(), c.null);
        EXPECT_EQ(c.rect.isInfinite(), c.infinite);
        EXPECT_EQ(c.rect.isEmpty(), c.empty);
    }
    EXPECT_FALSE(Rect::null().contains({0, 0}));
}

TEST(RectTest, Intersection) {
    struct Case {
        const char* name;
        Rect a;
        Rect b;
        Rect expected;
    };
    const Case cases[] = {
        {"overlap", {0, 0, 10, 10}, {5, 5, 10, 10}, {5, 5, 5, 5}},
        {"inside", {0, 0, 10, 10}, {2, 3, 4, 5}, {2, 3, 4, 5}},
        {"flipped operand", {10, 10, -10, -10}, {5, 5, 10, 10}, {5, 5, 5, 5}},
        {"touching edge", {0, 0, 10, 10}, {10, 0, 5, 10}, {10, 0, 0, 10}},
        {"disjoint", {0, 0, 10, 10}, {11, 0, 5, 10}, Rect::null()},
        {"disjoint vertically", {0, 0, 10, 10}, {0, 20, 10, 10}, Rect::null()},
        {"with null", {0, 0, 10, 10}, Rect::null(), Rect::null()},
        {"with infinite", {10, 10, -10, -10}, Rect::infinite(), {0, 0, 10, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.a.intersection(c.b), c.expected);
        EXPECT_EQ(c.b.intersection(c.a), c.expected);
        EXPECT_EQ(c.a.intersection(c.b).isNull(), c.expected.isNull());
    }
    // A touching edge is an empty rectangle, not the null one.
    EXPECT_FALSE((Rect{0, 0, 10, 10}).intersection({10, 0, 5, 10}).isNull());
}

TEST(RectTest, Union) {
    struct Case {
        const char* name;
        Rect a;
        Rect b;
        Rect expected;
    };
    const Case cases[] = {
        {"apart", {0, 0, 1, 1}, {9, 4, 1, 1}, {0, 0, 10, 5}},
        {"flipped operand", {1, 1, -1, -1}, {9, 4, 1, 1}, {0, 0, 10, 5}},
        {"null is absorbed", {5, 5, -2, -2}, Rect::null(), {3, 3, 2, 2}},
        {"empty is not absorbed", {0, 0, 0, 0}, {5, 5, 1, 1}, {0, 0, 6, 6}},
        {"with infinite", {0, 0, 1, 1}, Rect::infinite(), Rect::infinite()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.a.unionWith(c.b), c.expected);
        EXPECT_EQ(c.b.unionWith(c.a), c.expected);
    }
    EXPECT_TRUE(Rect::null().unionWith(Rect::null()).isNull());
}

TEST(RectTest, IntegralEnclosesTheRectangleWithWholeNumbers) {
    struct Case {
        Rect rect;
        Rect expected;
    };
    const Case cases[] = {
        {{0.5, 1.2, 2.0, 3.1}, {0, 1, 3, 4}},
        {{-0.5, -0.5, 1, 1}, {-1, -1, 2, 2}},
        {{3.5, 3.5, -1, -1}, {2, 2, 2, 2}},
        {{4, 5, 6, 7}, {4, 5, 6, 7}},
    };
    for (const Case& c : cases) {
        const Rect integral = c.rect.integral();
        EXPECT_EQ(integral, c.expected) << c.rect.x << "," << c.rect.y << " " << c.rect.width << "x" << c.rect.height;
    }
    EXPECT_TRUE(Rect::null().integral().isNull());
    EXPECT_TRUE(Rect::infinite().integral().isInfinite());
}

}  // namespace
}  // namespace scene
