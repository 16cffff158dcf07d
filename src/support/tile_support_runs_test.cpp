#include "support/tile_support_runs.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/simulated/frame_renderer.h"
#include "support/composed_support_tiles.h"

namespace scene {
namespace {

// A BGRA picture of `lines` x `positions` gray levels, laid out along the
// proposal's direction (transposed for vertical proposals).
Image paint(const std::vector<std::vector<std::uint8_t>>& levels, bool vertical) {
    const auto lines = static_cast<int>(levels.size());
    const auto positions = static_cast<int>(levels[0].size());
    const int width = vertical ? lines : positions;
    const int height = vertical ? positions : lines;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 4);
    for (int line = 0; line < lines; ++line) {
        for (int position = 0; position < positions; ++position) {
            const int x = vertical ? line : position;
            const int y = vertical ? position : line;
            std::uint8_t* pixel = bytes.data() + (static_cast<std::size_t>(y) * width + x) * 4;
            pixel[0] = pixel[1] = pixel[2] = levels[line][position];
            pixel[3] = 255;
        }
    }
    return Image(width, height, static_cast<std::size_t>(width) * 4, std::move(bytes));
}

SupportProposal proposal(std::string side, double from, double to, double fixed) {
    SupportProposal p;
    p.owner = "w";
    p.side = std::move(side);
    p.from = from;
    p.to = to;
    p.fixed = fixed;
    return p;
}

// What supportRuns finds in the whole conversion of the tile.
std::vector<SupportRun> expectedRuns(const Image& tile, const Rect& region, const SupportProposal& p,
                                     const std::optional<SupportPixelGrid>& grid) {
    const GrayBuffer gray = grayPixels(tile);
    return supportRuns(gray.pixels, gray.width, gray.height, region, p, grid);
}

TEST(SupportProbeSpacingTest, EveryRunOfTheShortestLengthHoldsAProbe) {
    EXPECT_EQ(supportProbeSpacing(1), 1);
    EXPECT_EQ(supportProbeSpacing(47), 12);  // 48 points at 1 pixel per point
    EXPECT_EQ(supportProbeSpacing(95), 14);  // and at 2
    EXPECT_EQ(supportProbeSpacing(100000), 16);
    // The bound the spacing rests on, checked by counting.
    for (std::ptrdiff_t shortest : {5, 11, 23, 47, 71, 95, 143}) {
        const std::ptrdiff_t spacing = supportProbeSpacing(shortest);
        for (std::ptrdiff_t span = shortest; span < 3000; ++span) {
            const auto misses = static_cast<std::ptrdiff_t>(0.06 * static_cast<double>(span));
            ASSERT_GT(span / spacing, misses) << "shortest " << shortest << " span " << span;
        }
    }
}

// A run that starts between probes and misses on every probe it may miss is
// still found, by following it back from the last probes that hit.
TEST(TileSupportRunsTest, FindsARunWhoseProbesMostlyMiss) {
    for (const bool vertical : {false, true}) {
        std::vector<std::vector<std::uint8_t>> levels(20, std::vector<std::uint8_t>(300, 0));
        for (int line = 10; line < 20; ++line) {
            for (int position = 30; position < 130; ++position) levels[line][position] = 255;
            // Probes lie every 12 positions from 0; six of the eight in the
            // run miss, which leaves it 94 % whole.
            for (int position = 36; position <= 96; position += 12) levels[line][position] = 0;
        }
        const Image tile = paint(levels, vertical);
        const Rect region = vertical ? Rect{50, 100, 20, 300} : Rect{100, 50, 300, 20};
        const SupportProposal p = proposal(vertical ? "left" : "top", 100, 400, 60);
        TileGrayScratch scratch;
        const TileSupportRuns found = tileSupportRuns(tile, region, p, std::nullopt, scratch);
        EXPECT_EQ(found.runs, (std::vector<SupportRun>{{130, 230, 60}})) << vertical;
        EXPECT_EQ(found.runs, expectedRuns(tile, region, p, std::nullopt));
        EXPECT_LT(found.convertedPixels, static_cast<std::size_t>(300 * 20) / 2);
    }
}

// Long steps with random dropouts, at scales that give different probe
// spacings, read through grids with offsets: the same runs as a whole
// conversion, or none, line for line.
TEST(TileSupportRunsTest, AgreesWithTheWholeConversionOnBrokenSteps) {
    std::mt19937 random(7);
    int withRuns = 0;
    for (int round = 0; round < 300; ++round) {
        const bool vertical = round % 2 == 1;
        const int lines = 24;
        const int positions = 400;
        std::vector<std::vector<std::uint8_t>> levels(lines, std::vector<std::uint8_t>(positions));
        std::uniform_int_distribution<int> level(0, 255);
        std::uniform_int_distribution<int> stepLine(4, lines - 4);
        const int first = stepLine(random);
        const int second = stepLine(random);
        const double dropout = std::uniform_real_distribution<double>(0, 0.12)(random);
        const int low = level(random);
        const int high = level(random);
        for (int position = 0; position < positions; ++position) {
            const bool dropped = std::bernoulli_distribution(dropout)(random);
            for (int line = 0; line < lines; ++line) {
                const bool lit = (line >= first) != (line >= second);
                levels[line][position] = static_cast<std::uint8_t>(lit && !dropped ? high : low);
            }
        }
        const Image tile = paint(levels, vertical);
        const double scale = std::array<double, 4>{0.5, 1, 2, 3}[round % 4];
        const double offset = std::uniform_int_distribution<int>(0, 40)(random);
        // The tile sits `offset` pixels into a capture twice its length.
        const Rect bounds = vertical ? Rect{0, 0, lines / scale, 2 * positions / scale}
                                     : Rect{0, 0, 2 * positions / scale, lines / scale};
        const SupportPixelGrid grid{bounds, vertical ? lines : 2 * positions, vertical ? 2 * positions : lines,
                                    vertical ? Point{0, offset} : Point{offset, 0}};
        SupportProposal p = proposal(vertical ? "right" : "bottom", (offset + 3) / scale,
                                     (offset + positions - 5) / scale, (first + 1) / scale);
        if (round % 3 == 0) {
            p.identity = "edge";
            p.tolerance = std::uniform_real_distribution<double>(0, 20)(random);
        }
        TileGrayScratch scratch;
        const TileSupportRuns found = tileSupportRuns(tile, bounds, p, grid, scratch);
        ASSERT_EQ(found.runs, expectedRuns(tile, bounds, p, grid)) << "round " << round;
        withRuns += found.runs.empty() ? 0 : 1;
    }
    EXPECT_GT(withRuns, 60);
}

// A rendered desktop cut into the tiles the sampler uses: every proposal gets
// the runs of the whole conversion, from a fraction of its pixels.
TEST(TileSupportRunsTest, AgreesWithTheWholeConversionOnRenderedTiles) {
    std::mt19937 random(11);
    for (const double scale : {1.0, 1.5, 2.0}) {
        const Rect display{0, 0, 800, 500};
        simulated::FrameScene scene{.display = display, .windows = {}};
        std::vector<SupportProposal> proposals;
        std::uniform_real_distribution<double> along(0, 560);
        std::uniform_real_distribution<double> across(20, 380);
        std::uniform_int_distribution<int> half(0, 1);
        for (int n = 0; n < 12; ++n) {
            const Rect bounds{std::round(along(random) * 2) / 2, std::round(across(random) * 2) / 2, 240, 120};
            simulated::FrameWindow window{.bounds = bounds, .titleBar = 28};
            window.panels.push_back({Rect{0, 58, bounds.width, 1}, 0xc8c8c8, std::nullopt});
            scene.windows.push_back(window);
            proposals.push_back(proposal("top", bounds.minX() + 12, bounds.maxX() - 12, bounds.minY()));
            proposals.push_back(proposal("bottom", bounds.minX() + 12, bounds.maxX() - 12, bounds.maxY()));
            proposals.push_back(proposal("left", bounds.minY() + 12, bounds.maxY() - 12, bounds.minX()));
            proposals.push_back(proposal("right", bounds.minY() + 12, bounds.maxY() - 12, bounds.maxX()));
            SupportProposal rule =
                proposal("top", bounds.minX() + 8, bounds.maxX() - 8, bounds.minY() + 58 + half(random));
            rule.identity = "rule" + std::to_string(n);
            rule.tolerance = 4;
            proposals.push_back(rule);
        }
        const int width = static_cast<int>(display.width * scale);
        const int height = static_cast<int>(display.height * scale);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 4);
        simulated::renderFrame(scene, width, height, bytes.data(), static_cast<std::size_t>(width) * 4);
        const Image frame(width, height, static_cast<std::size_t>(width) * 4, std::move(bytes));

        std::size_t tilePixels = 0;
        std::size_t converted = 0;
        int withRuns = 0;
        TileGrayScratch scratch;
        for (const ComposedSupportTile& tile : composedSupportTiles(frame, display, proposals)) {
            const SupportPixelGrid grid{display, width, height, tile.pixelOrigin};
            tilePixels += static_cast<std::size_t>(tile.image.width()) * tile.image.height();
            for (const int index : tile.indices) {
                const TileSupportRuns found = tileSupportRuns(tile.image, tile.bounds, proposals[index], grid, scratch);
                ASSERT_EQ(found.runs, expectedRuns(tile.image, tile.bounds, proposals[index], grid))
                    << "scale " << scale << " proposal " << index;
                converted += found.convertedPixels;
                withRuns += found.runs.empty() ? 0 : 1;
            }
        }
        EXPECT_GT(withRuns, 20) << scale;
        EXPECT_LT(converted, tilePixels / 2) << scale;
    }
}

}  // namespace
}  // namespace scene
