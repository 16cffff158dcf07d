#include "support/support_runs.h"

#include <gtest/gtest.h>

#include <functional>

namespace scene {
namespace {

using Gray = std::function<int(int line, int position)>;

// A 300-position, 20-line buffer at 1 px per point, painted line by line along
// the proposal; vertical proposals get the transposed picture.
std::vector<std::uint8_t> paint(const Gray& gray, bool vertical, int lines = 20, int positions = 300) {
    std::vector<std::uint8_t> pixels;
    for (int r = 0; r < (vertical ? positions : lines); ++r) {
        for (int c = 0; c < (vertical ? lines : positions); ++c) pixels.push_back(vertical ? gray(c, r) : gray(r, c));
    }
    return pixels;
}

// Black above `line`, white from it on, except at missing positions.
Gray step(
    int line, std::function<bool(int)> missing = [](int) { return false; }) {
    return [=](int l, int p) { return l >= line && !missing(p) ? 255 : 0; };
}

SupportProposal proposal(bool vertical, double from, double to, double fixed) {
    SupportProposal p;
    p.owner = "w";
    p.side = vertical ? "left" : "top";
    p.from = from;
    p.to = to;
    p.fixed = fixed;
    return p;
}

constexpr double kAlong = 100;  // region origin along the proposal
constexpr double kAcross = 50;  // and across it

TEST(SupportRunsTest, FindsTheLineWithTheLongestCrispStep) {
    struct Case {
        const char* name;
        Gray gray;
        double fixed;                  // across, relative to the region
        std::vector<SupportRun> runs;  // relative to the region
        std::optional<std::string> identity = std::nullopt;
        double tolerance = 2.0;
    };
    const Case cases[] = {
        {"step", step(10), 10, {{0, 300, 10}}},
        {"47 points", step(10, [](int p) { return p >= 47; }), 10, {}},
        {"48 points", step(10, [](int p) { return p >= 48; }), 10, {{0, 48, 10}}},
        {"every 15th missing", step(10, [](int p) { return p % 15 == 14; }), 10, {}},
        {"every 20th missing", step(10, [](int p) { return p % 20 == 19; }), 10, {{0, 299, 10}}},
        {"two misses split", step(10, [](int p) { return p == 100 || p == 101; }), 10, {{0, 100, 10}, {102, 300, 10}}},
        {"short half dropped", step(10, [](int p) { return p == 30 || p == 31; }), 10, {{32, 300, 10}}},
        {"linear ramp", [](int l, int) { return 8 * l; }, 10, {}},
        {"line 1", step(1), 1, {}},
        {"line 2", step(2), 2, {{0, 300, 2}}},
        {"last line", step(19), 19, {}},
        {"last but one", step(18), 18, {{0, 300, 18}}},
        {"tie keeps the earlier line", [](int l, int) { return l == 10 || l == 11 ? 255 : 0; }, 11, {{0, 300, 10}}},
        {"2 away", step(12), 10, {{0, 300, 12}}},
        {"3 away", step(13), 10, {}},
        {"tolerance needs identity", step(13), 10, {}, std::nullopt, 20},
        {"identity 20 reaches 8", step(18), 10, {{0, 300, 18}}, "e", 20},
        {"identity 20 stops at 8", step(10), 1, {}, "e", 20},
        {"identity below 2", step(13), 10, {}, "e", 0.5},
        {"identity radius 3, within 2.5", step(13), 10, {}, "e", 2.5},
    };
    for (const bool vertical : {false, true}) {
        const Rect region = vertical ? Rect{kAcross, kAlong, 20, 300} : Rect{kAlong, kAcross, 300, 20};
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (vertical ? " (vertical)" : ""));
            SupportProposal p = proposal(vertical, kAlong, kAlong + 300, kAcross + c.fixed);
            p.identity = c.identity;
            p.tolerance = c.tolerance;
            std::vector<SupportRun> expected;
            for (const SupportRun& r : c.runs) expected.push_back({r.start + kAlong, r.end + kAlong, r.line + kAcross});
            const auto pixels = paint(c.gray, vertical);
            EXPECT_EQ(supportRuns(pixels, vertical ? 20 : 300, vertical ? 300 : 20, region, p), expected);
        }
    }
}

TEST(SupportRunsTest, TileWithGridReportsTheWholeCapturesLine) {
    // 2 px per point: a 200 x 2048 capture of (10, 20, 100, 1024), step on pixel row 700.
    const auto whole = paint(step(700), false, 2048, 200);
    const Rect bounds{10, 20, 100, 1024};
    const SupportProposal p = proposal(false, 10, 110, 370);
    const std::vector<SupportRun> expected{{10, 110, 370}};
    EXPECT_EQ(supportRuns(whole, 200, 2048, bounds, p), expected);

    const std::span<const std::uint8_t> tile(whole.begin() + 512 * 200, 512 * 200);
    const SupportPixelGrid grid{bounds, 200, 2048, {0, 512}};
    EXPECT_EQ(supportRuns(tile, 200, 512, {10, 276, 100, 256}, p, grid), expected);
    EXPECT_EQ(supportRuns(tile, 200, 512, {0, 0, 1, 1}, p, grid), expected) << "the grid replaces the region";
}

TEST(SupportRunsTest, UnusableInputGivesNothing) {
    const auto pixels = paint(step(10), false);
    const Rect region{0, 0, 300, 20};
    const SupportProposal p = proposal(false, 0, 300, 10);
    EXPECT_FALSE(supportRuns(pixels, 300, 20, region, p).empty());
    EXPECT_TRUE(supportRuns(std::span(pixels).first(5999), 300, 20, region, p).empty());
    EXPECT_TRUE(supportRuns(pixels, 0, 20, region, p).empty());
    EXPECT_TRUE(supportRuns(pixels, -300, -20, region, p).empty());
    EXPECT_TRUE(supportRuns(pixels, 300, 20, {0, 0, 0, 20}, p).empty());
    EXPECT_TRUE(supportRuns(pixels, 300, 20, Rect::null(), p).empty());
    EXPECT_TRUE(supportRuns(pixels, 300, 20, region, proposal(false, 5, 5.5, 10)).empty()) << "single pixel";
    EXPECT_TRUE(supportRuns(pixels, 300, 20, region, p, SupportPixelGrid{region, 0, 20, {}}).empty());
    // A scale so large that the line is infinitely far and the search radius
    // infinite: the first candidate line is NaN, which must not become a start.
    EXPECT_TRUE(supportRuns(pixels, 300, 20, {0, 0, 300, 1.5e-307}, p).empty());
}

}  // namespace
}  // namespace scene
