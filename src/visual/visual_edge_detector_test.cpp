#include "visual/visual_edge_detector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace scene {
namespace {

constexpr std::uint8_t kBackground = 40;
constexpr std::uint8_t kBright = 200;

// A gray picture drawn from filled rectangles; `detect` treats it as a window
// of `pointsPerPixel` points per pixel.
struct Canvas {
    Canvas(int width, int height, std::uint8_t value = kBackground)
        : width(width), height(height), pixels(static_cast<std::size_t>(width) * height, value) {}

    Canvas& fill(int x, int y, int w, int h, std::uint8_t value) {
        for (int r = std::max(0, y); r < std::min(height, y + h); ++r)
            for (int c = std::max(0, x); c < std::min(width, x + w); ++c) pixels[r * width + c] = value;
        return *this;
    }

    std::vector<VisualEdge> detect(double pointsPerPixel = 1) const {
        return detectVisualEdges(pixels, width, height, width * pointsPerPixel, height * pointsPerPixel);
    }

    int width;
    int height;
    std::vector<std::uint8_t> pixels;
};

const VisualEdge* edgeAt(const std::vector<VisualEdge>& edges, double y) {
    const auto it = std::find_if(edges.begin(), edges.end(), [y](const VisualEdge& e) { return e.y == y; });
    return it == edges.end() ? nullptr : &*it;
}

TEST(VisualEdgeDetectorTest, AdmitsOnlyBuffersItCanScan) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        int width;
        int height;
        double pointsPerPixel;
        std::size_t extraBytes;
        std::optional<double> pointWidth;  // instead of width * pointsPerPixel
        std::size_t edges;
    };
    // Each buffer holds one full-width step across its middle.
    const Case cases[] = {
        {"80 square, scaled so a run fits", 80, 80, 4, 0, {}, 1},
        {"79 wide", 79, 80, 4, 0, {}, 0},
        {"79 high", 80, 79, 4, 0, {}, 0},
        {"768 square", 768, 768, 1, 0, {}, 1},
        {"769 wide", 769, 768, 1, 0, {}, 0},
        {"769 high", 768, 769, 1, 0, {}, 0},
        {"one byte too many", 400, 300, 1, 1, {}, 0},
        {"zero point width", 400, 300, 1, 0, 0.0, 0},
        {"negative point width", 400, 300, 1, 0, -400, 0},
        {"point width not a number", 400, 300, 1, 0, nan, 0},
        {"infinite point width", 400, 300, 1, 0, inf, 0},
        {"tiny point width", 400, 300, 1, 0, 1e-300, 0},
        {"too narrow for a 110-point run", 120, 300, 1, 0, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas(c.width, c.height);
        canvas.fill(0, c.height / 2, c.width, c.height, kBright);
        canvas.pixels.resize(canvas.pixels.size() + c.extraBytes, kBackground);
        const auto edges =
            detectVisualEdges(canvas.pixels, c.width, c.height, c.pointWidth.value_or(c.width * c.pointsPerPixel),
                              c.height * c.pointsPerPixel);
        EXPECT_EQ(edges.size(), c.edges);
    }
}

TEST(VisualEdgeDetectorTest, SmoothShadingIsNoEdgeOnlyItsBendsAre) {
    EXPECT_TRUE(Canvas(400, 300).detect().empty());

    // A ramp of 10 levels per row from row 100 to row 119: every row is a
    // large step, but only the rows where the step changes count.
    Canvas ramp(400, 300, 20);
    for (int r = 100; r < 300; ++r) ramp.fill(0, r, 400, 1, static_cast<std::uint8_t>(20 + 10 * std::min(r - 99, 20)));
    const auto edges = ramp.detect();
    ASSERT_EQ(edges.size(), 2u);
    EXPECT_EQ(edges[0].y, 100);
    EXPECT_EQ(edges[1].y, 119);
}

TEST(VisualEdgeDetectorTest, SingleStepAcrossTheWindow) {
    for (const double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        Canvas canvas(400, 300);
        canvas.fill(0, 150, 400, 150, kBright);
        const auto edges = canvas.detect(scale);
        ASSERT_EQ(edges.size(), 1u);
        const VisualEdge& edge = edges[0];
        const int margin = scale == 1.0 ? 10 : 5;
        EXPECT_EQ(edge.y, 150 * scale);
        EXPECT_EQ(edge.x, margin * scale);
        EXPECT_EQ(edge.width, (400 - 2 * margin) * scale);
        EXPECT_EQ(edge.strength, kBright - kBackground);
        EXPECT_FALSE(edge.platform);
        std::vector<int> fingerprint(16, kBackground >> 3);
        fingerprint.resize(32, kBright >> 3);
        EXPECT_EQ(edge.fingerprint, fingerprint) << "rows -4 and -2 above the step, +2 and +4 below";
    }
}

TEST(VisualEdgeDetectorTest, RunsBridgeShortGapsButNotPolarityChanges) {
    struct Case {
        const char* name;
        int gap;
        std::vector<std::pair<double, double>> spans;  // x, width
    };
    const Case cases[] = {
        {"two quiet columns are bridged", 2, {{10, 380}}},
        {"three quiet columns split the run", 3, {{10, 190}, {203, 187}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas(400, 300);
        canvas.fill(0, 150, 400, 150, kBright).fill(200, 150, c.gap, 150, kBackground);
        const auto edges = canvas.detect();
        ASSERT_EQ(edges.size(), c.spans.size());
        for (std::size_t i = 0; i < edges.size(); ++i) {
            EXPECT_EQ(edges[i].x, c.spans[i].first);
            EXPECT_EQ(edges[i].width, c.spans[i].second);
        }
    }

    // Darker on the left, brighter on the right of the same row boundary.
    Canvas canvas(400, 300, 100);
    canvas.fill(0, 150, 200, 150, 20).fill(200, 150, 200, 150, 180);
    const auto edges = canvas.detect();
    ASSERT_EQ(edges.size(), 2u);
    EXPECT_EQ(edges[0].x + edges[1].x, 10 + 200);
    EXPECT_EQ(edges[0].width, 190);
    EXPECT_EQ(edges[1].width, 190);
}

TEST(VisualEdgeDetectorTest, RunsMustBeMoreThanNinetyPercentEdge) {
    // Single quiet columns every `period` columns: one in ten leaves exactly
    // 90 % and is refused; one in twelve passes.
    for (const auto& [period, found] : {std::pair{10, 0u}, std::pair{12, 1u}}) {
        SCOPED_TRACE(period);
        Canvas canvas(400, 300);
        canvas.fill(0, 150, 400, 150, kBright);
        for (int c = 5; c < 400; c += period) canvas.fill(c, 150, 1, 150, kBackground);
        EXPECT_EQ(canvas.detect().size(), found);
    }
}

TEST(VisualEdgeDetectorTest, BoxTopsArePlatformsWhenBothSidesReachDownFar) {
    struct Case {
        const char* name;
        double scale;
        int x, y, width, height;  // the box, in pixels
        bool platform;
    };
    const Case cases[] = {
        {"sides 40 points", 1, 60, 120, 280, 40, true},
        {"sides 33 points", 1, 60, 120, 280, 33, true},
        {"sides 20 points", 1, 60, 120, 280, 20, false},
        {"right side beyond the window", 1, 60, 120, 400, 100, false},
        {"left side beyond the window", 1, -10, 120, 350, 100, false},
        {"33 points above the bottom", 1, 60, 267, 280, 33, true},
        {"32 points above the bottom", 1, 60, 268, 280, 32, false},
        {"sides 34 points at 2 points per pixel", 2, 60, 100, 280, 17, true},
        {"sides 20 points at 2 points per pixel", 2, 60, 100, 280, 10, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas(400, 300);
        canvas.fill(c.x, c.y, c.width, c.height, kBright);
        const auto edges = canvas.detect(c.scale);
        const VisualEdge* top = edgeAt(edges, c.y * c.scale);
        ASSERT_NE(top, nullptr);
        EXPECT_EQ(top->platform, c.platform);
    }
}

TEST(VisualEdgeDetectorTest, NearDuplicatesFoldIntoTheUpperOne) {
    struct Case {
        const char* name;
        int apart;
        int secondWidth;
        std::vector<double> rows;
    };
    const Case cases[] = {
        {"two points apart", 2, 400, {150}},
        {"ten points apart", 10, 400, {150, 160}},
        {"two apart but overlapping only half", 2, 200, {150, 152}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas(400, 300);
        canvas.fill(0, 150, 400, 150, 120).fill(0, 150 + c.apart, c.secondWidth, 150, kBright);
        std::vector<double> rows;
        for (const VisualEdge& edge : canvas.detect()) rows.push_back(edge.y);
        std::sort(rows.begin(), rows.end());
        EXPECT_EQ(rows, c.rows);
    }
}

TEST(VisualEdgeDetectorTest, RanksPlatformsFirstAndKeepsTwentyFour) {
    Canvas canvas(768, 768);
    // Left: eleven faint boxes, whose tops are platforms.
    for (int y = 100; y <= 700; y += 60) canvas.fill(40, y, 300, 40, 70);
    // Right: strong stripes running off the window's right side, never platforms.
    for (int y = 100, i = 0; y < 768; y += 12, ++i) canvas.fill(400, y, 368, 12, i % 2 == 0 ? kBright : 60);

    const auto edges = canvas.detect();
    ASSERT_EQ(edges.size(), 24u);
    const auto isPlatform = [](const VisualEdge& e) { return e.platform; };
    EXPECT_TRUE(std::is_partitioned(edges.begin(), edges.end(), isPlatform));
    EXPECT_EQ(std::count_if(edges.begin(), edges.end(), isPlatform), 11);
    const auto weaker = [](const VisualEdge& a, const VisualEdge& b) {
        return a.platform == b.platform && a.width * a.strength < b.width * b.strength;
    };
    EXPECT_EQ(std::adjacent_find(edges.begin(), edges.end(), weaker), edges.end());
    EXPECT_GT(edges.back().width * edges.back().strength, edges.front().width * edges.front().strength)
        << "platforms outrank stronger lines";
}

}  // namespace
}  // namespace scene
