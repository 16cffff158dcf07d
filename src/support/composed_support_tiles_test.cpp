#include "support/composed_support_tiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace scene {
namespace {

SupportProposal along(const std::string& side, double from, double to, double fixed,
                      std::optional<std::string> identity = std::nullopt, double tolerance = 2.0) {
    return SupportProposal{.owner = "w",
                           .rect = {0, 0, 1000, 1000},
                           .side = side,
                           .from = from,
                           .to = to,
                           .fixed = fixed,
                           .identity = std::move(identity),
                           .tolerance = tolerance};
}

SupportProposal top(double from, double to, double fixed) { return along("top", from, to, fixed); }

std::vector<std::vector<int>> indicesOf(const std::vector<ComposedSupportTile>& tiles) {
    std::vector<std::vector<int>> indices;
    for (const ComposedSupportTile& tile : tiles) indices.push_back(tile.indices);
    return indices;
}

// The tile must be a window onto the frame's own storage at its pixel origin.
void expectCropOfFrame(const ComposedSupportTile& tile, const Image& frame) {
    const int x = static_cast<int>(tile.pixelOrigin.x);
    const int y = static_cast<int>(tile.pixelOrigin.y);
    const int last = tile.image.height() - 1;
    EXPECT_EQ(tile.image.row(0), frame.row(y) + static_cast<std::size_t>(x) * 4);
    EXPECT_EQ(tile.image.row(last), frame.row(y + last) + static_cast<std::size_t>(x) * 4);
}

TEST(ComposedSupportPixelsTest, BandHoldsEveryLineTheRunFinderMayRead) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        SupportProposal proposal;
        Rect pixels;
    };
    const Case cases[] = {
        // Radius 2: rows centre - 4 ... centre + 4, and floor/ceil of the span plus two each way.
        {"no identity ignores tolerance", along("top", 100.4, 199.6, 500, std::nullopt, 20), {98, 496, 104, 9}},
        {"identity, tolerance capped at 8", along("top", 100.4, 199.6, 500, "e", 20), {98, 490, 104, 21}},
        {"identity, tolerance 3", along("top", 100.4, 199.6, 500, "e", 3), {98, 495, 104, 11}},
        {"identity, tolerance below 2", along("top", 100.4, 199.6, 500, "e", 0.5), {98, 496, 104, 9}},
        {"identity, tolerance not finite", along("top", 100.4, 199.6, 500, "e", nan), {98, 496, 104, 9}},
        {"half rounds away from zero", along("bottom", 100.4, 199.6, 500.5), {98, 497, 104, 9}},
        {"vertical swaps the axes", along("left", 100.4, 199.6, 500), {496, 98, 9, 104}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto pixels = composedSupportPixels({0, 0, 1000, 1000}, 1000, 1000, {&c.proposal, 1});
        ASSERT_TRUE(pixels.has_value());
        EXPECT_EQ(*pixels, c.pixels);
    }
}

TEST(ComposedSupportPixelsTest, AbsentForUnusableCaptureOrProposal) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Rect screen{0, 0, 1000, 1000};
    const SupportProposal good = top(100, 200, 100);
    struct Case {
        const char* name;
        Rect bounds;
        int width;
        std::vector<SupportProposal> proposals;
    };
    const Case cases[] = {
        {"empty bounds", {0, 0, 0, 1000}, 1000, {good}},
        {"bounds not finite", {nan, 0, 1000, 1000}, 1000, {good}},
        {"no pixels", screen, 0, {good}},
        {"from equals to", screen, 1000, {good, top(150, 150, 100)}},
        {"from after to", screen, 1000, {top(200, 100, 100), good}},
        {"infinite fixed", screen, 1000, {good, top(100, 200, inf)}},
        {"no proposals", screen, 1000, {}},
        {"band misses the capture", screen, 1000, {top(2000, 2100, 100)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(composedSupportPixels(c.bounds, c.width, 1000, c.proposals).has_value());
    }
}

TEST(ComposedSupportTilesTest, ProposalJoinsTheTileItGrowsLeastWithinBudget) {
    // A 3840-pixel-wide strip at one pixel per point.
    const Image frame = Image::filled(3840, 100, 0xFF808080);
    const Rect bounds{0, 0, 3840, 100};
    struct Case {
        const char* name;
        std::vector<SupportProposal> proposals;
        std::vector<std::vector<int>> indices;
    };
    const Case cases[] = {
        // Growth 990 pixels against a budget of 1.25 x 936.
        {"ten-point gap on one line", {top(100, 200, 50), top(210, 310, 50)}, {{0, 1}}},
        {"opposite halves", {top(100, 200, 50), top(3000, 3100, 50)}, {{0}, {1}}},
        // The third grows either tile by the same area: the earlier one keeps it.
        {"equal growth", {top(100, 200, 50), top(400, 500, 50), top(210, 390, 50)}, {{0, 2}, {1}}},
        {"smaller growth wins", {top(100, 200, 50), top(400, 500, 50), top(211, 391, 50)}, {{0}, {1, 2}}},
        {"neighbouring lines", {top(100, 200, 50), top(100, 200, 53)}, {{0, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto tiles = composedSupportTiles(frame, bounds, c.proposals);
        EXPECT_EQ(indicesOf(tiles), c.indices);
        for (const ComposedSupportTile& tile : tiles) expectCropOfFrame(tile, frame);
    }

    const auto shared = composedSupportTiles(frame, bounds, std::vector{top(100, 200, 50), top(210, 310, 50)});
    ASSERT_EQ(shared.size(), 1u);
    EXPECT_EQ(shared[0].pixelOrigin, (Point{98, 46}));
    EXPECT_EQ(shared[0].image.width(), 214);
    EXPECT_EQ(shared[0].image.height(), 9);
    EXPECT_EQ(shared[0].bounds, (Rect{98, 46, 214, 9}));
}

TEST(ComposedSupportTilesTest, BandsPastTheEdgeAreClipped) {
    const Image frame = Image::filled(400, 300, 0xFF000000);
    const Rect bounds{100, 200, 400, 300};
    const std::vector proposals{top(50, 150, 201), top(450, 600, 499)};

    const auto tiles = composedSupportTiles(frame, bounds, proposals);
    ASSERT_EQ(tiles.size(), 2u);
    EXPECT_EQ(tiles[0].pixelOrigin, (Point{0, 0}));
    EXPECT_EQ(tiles[0].bounds, (Rect{100, 200, 52, 6}));
    EXPECT_EQ(tiles[1].pixelOrigin, (Point{348, 295}));
    EXPECT_EQ(tiles[1].bounds, (Rect{448, 495, 52, 5}));
    EXPECT_EQ(tiles[1].image.width(), 52);
    EXPECT_EQ(tiles[1].image.height(), 5);
    for (const ComposedSupportTile& tile : tiles) expectCropOfFrame(tile, frame);
}

TEST(ComposedSupportTilesTest, UnusableOrOffFrameProposalsAloneGoUnserved) {
    const Image frame = Image::filled(1000, 1000, 0xFFFFFFFF);
    const Rect bounds{0, 0, 1000, 1000};
    const std::vector proposals{top(100, 200, 100), top(150, 150, 100), top(2000, 2100, 100), top(600, 700, 900)};

    const auto tiles = composedSupportTiles(frame, bounds, proposals);
    EXPECT_EQ(indicesOf(tiles), (std::vector<std::vector<int>>{{0}, {3}}));
    EXPECT_TRUE(composedSupportTiles(Image(), bounds, proposals).empty());
}

TEST(ComposedSupportTilesTest, PixelsPerPointScaleBandsAndTileBounds) {
    // Two pixels per point: radius ceil(2 x 2) = 4, so 13 rows around row 200.
    const Image frame = Image::filled(1920, 1080, 0xFF202020);
    const Rect bounds{100, 50, 960, 540};
    const auto tiles = composedSupportTiles(frame, bounds, std::vector{top(200, 300, 150)});
    ASSERT_EQ(tiles.size(), 1u);
    EXPECT_EQ(tiles[0].pixelOrigin, (Point{198, 194}));
    EXPECT_EQ(tiles[0].image.width(), 204);
    EXPECT_EQ(tiles[0].image.height(), 13);
    EXPECT_EQ(tiles[0].bounds, (Rect{199, 147, 102, 6.5}));
    expectCropOfFrame(tiles[0], frame);

    // Two pixels per point across x, three along y: a vertical band takes its
    // radius from x and its length from y.
    const SupportProposal left = along("left", 600, 700, 1300);
    EXPECT_EQ(composedSupportPixels({1000, 500, 1000, 500}, 2000, 1500, {&left, 1}), (Rect{594, 298, 13, 304}));
}

}  // namespace
}  // namespace scene
