// The support run finder on drawn and noisy gray tiles up to 512 x 512, with
// any region, proposal and pixel grid: NaN, infinite, huge and denormal
// coordinates, negative and zero extents, fractional offsets. Runs must lie on
// one scanned line, inside the buffer and the proposal's extent and long
// enough; and two rewritings of the same question must give the same answer:
// every gray level inverted (steps are judged by size, not sign), and the
// picture transposed with a proposal of the other direction (the vertical scan
// is the horizontal one with its strides swapped). The sampler's lazy reader
// of colour tiles must agree with it too.
//
// Input: read through FuzzedDataProvider: the tile, then its geometry. One
// flag picks geometry that a real capture would have, where the tight
// containment checks hold to rounding; the rest is arbitrary.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_inputs.h"
#include "support/support_runs.h"
#include "support/tile_support_runs.h"

namespace scene {
namespace {

using fuzz::require;

constexpr int kLargestSide = 512;
constexpr double kMinimumRunPoints = 48;
constexpr const char* kSides[] = {"top", "bottom", "left", "right", "", "middle"};

struct Question {
    std::vector<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
    Rect region;
    SupportProposal proposal;
    std::optional<SupportPixelGrid> grid;
    bool plausible = false;  // geometry of a real capture
};

int side(FuzzedDataProvider& input) {
    if (input.ConsumeIntegralInRange(0, 15) == 0) return input.ConsumeIntegralInRange(-2, 4);
    return input.ConsumeIntegralInRange(1, kLargestSide);
}

Question ask(FuzzedDataProvider& input) {
    Question q;
    q.width = side(input);
    q.height = side(input);
    q.pixels = fuzz::paintGray(input, std::max(q.width, 0), std::max(q.height, 0));
    if (input.ConsumeIntegralInRange(0, 31) == 0) q.pixels.push_back(0);

    q.plausible = input.ConsumeBool();
    SupportProposal& p = q.proposal;
    p.owner = "fuzz:1";
    p.side = kSides[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kSides) - 1)];
    if (input.ConsumeBool()) p.identity = "edge";
    p.tolerance = fuzz::edgyDouble(input, -2, 30);
    if (q.plausible) {
        // Points per pixel of an ordinary or a high-density display, a region
        // somewhere on a large desktop, and a proposal near it.
        const double scale = input.ConsumeFloatingPointInRange(0.25, 4.0);  // pixels per point
        const double x = input.ConsumeIntegralInRange(-3000, 6000);
        const double y = input.ConsumeIntegralInRange(-3000, 6000);
        if (input.ConsumeBool()) {
            const int offsetX = input.ConsumeIntegralInRange(0, 2048);
            const int offsetY = input.ConsumeIntegralInRange(0, 2048);
            SupportPixelGrid grid;
            grid.width = std::max(q.width, 1) + offsetX + input.ConsumeIntegralInRange(0, 2048);
            grid.height = std::max(q.height, 1) + offsetY + input.ConsumeIntegralInRange(0, 2048);
            grid.bounds = {x, y, grid.width / scale, grid.height / scale};
            grid.offset = {static_cast<double>(offsetX), static_cast<double>(offsetY)};
            q.grid = grid;
            q.region = {x + offsetX / scale, y + offsetY / scale, q.width / scale, q.height / scale};
        } else {
            q.region = {x, y, std::max(q.width, 1) / scale, std::max(q.height, 1) / scale};
        }
        const bool horizontal = p.side == "top" || p.side == "bottom";
        const double alongOrigin = horizontal ? q.region.x : q.region.y;
        const double alongLength = horizontal ? q.region.width : q.region.height;
        const double acrossOrigin = horizontal ? q.region.y : q.region.x;
        const double acrossLength = horizontal ? q.region.height : q.region.width;
        p.from = alongOrigin + alongLength * input.ConsumeFloatingPointInRange(-0.2, 1.2);
        p.to = std::max(p.from, alongOrigin + alongLength * input.ConsumeFloatingPointInRange(-0.2, 1.2));
        p.fixed = acrossOrigin + acrossLength * input.ConsumeFloatingPointInRange(-0.1, 1.1);
    } else {
        q.region = {fuzz::edgyDouble(input, -3000, 3000), fuzz::edgyDouble(input, -3000, 3000),
                    fuzz::edgyDouble(input, -10, 2000), fuzz::edgyDouble(input, -10, 2000)};
        p.from = fuzz::edgyDouble(input, -3000, 3000);
        p.to = fuzz::edgyDouble(input, -3000, 3000);
        p.fixed = fuzz::edgyDouble(input, -3000, 3000);
        if (input.ConsumeBool()) {
            SupportPixelGrid grid;
            grid.bounds = {fuzz::edgyDouble(input, -3000, 3000), fuzz::edgyDouble(input, -3000, 3000),
                           fuzz::edgyDouble(input, -10, 4000), fuzz::edgyDouble(input, -10, 4000)};
            grid.width = input.ConsumeIntegralInRange(-10, 5000);
            grid.height = input.ConsumeIntegralInRange(-10, 5000);
            grid.offset = {fuzz::edgyDouble(input, -10, 3000), fuzz::edgyDouble(input, -10, 3000)};
            q.grid = grid;
        }
    }
    p.rect = q.region;
    return q;
}

// The same question about the transposed picture: columns become rows, so a
// horizontal proposal becomes a vertical one over the same coordinates.
Question transposed(const Question& q) {
    Question t = q;
    t.width = q.height;
    t.height = q.width;
    if (q.width > 0 && q.height > 0 && q.pixels.size() == static_cast<std::size_t>(q.width) * q.height) {
        for (int r = 0; r < q.height; ++r)
            for (int c = 0; c < q.width; ++c)
                t.pixels[static_cast<std::size_t>(c) * q.height + r] =
                    q.pixels[static_cast<std::size_t>(r) * q.width + c];
    }
    const auto swapped = [](const Rect& r) { return Rect{r.y, r.x, r.height, r.width}; };
    t.region = swapped(q.region);
    t.proposal.side = q.proposal.horizontal() ? "left" : "top";
    t.proposal.rect = swapped(q.proposal.rect);
    if (q.grid) {
        t.grid->bounds = swapped(q.grid->bounds);
        t.grid->width = q.grid->height;
        t.grid->height = q.grid->width;
        t.grid->offset = {q.grid->offset.y, q.grid->offset.x};
    }
    return t;
}

std::vector<SupportRun> answer(const Question& q) {
    return supportRuns(q.pixels, q.width, q.height, q.region, q.proposal, q.grid);
}

// Where buffer positions land in global points, along or across the proposal.
struct Axis {
    double origin;
    double scale;  // pixels per point
    double offset;
    int extent;
    double point(double pixel) const { return (pixel + offset) / scale + origin; }
};

void checkPlausible(const Question& q, const std::vector<SupportRun>& runs) {
    const Rect& bounds = q.grid ? q.grid->bounds : q.region;
    const double scaleX = (q.grid ? q.grid->width : q.width) / bounds.width;
    const double scaleY = (q.grid ? q.grid->height : q.height) / bounds.height;
    const Axis x{bounds.x, scaleX, q.grid ? q.grid->offset.x : 0, q.width};
    const Axis y{bounds.y, scaleY, q.grid ? q.grid->offset.y : 0, q.height};
    const SupportProposal& p = q.proposal;
    const Axis& along = p.horizontal() ? x : y;
    const Axis& across = p.horizontal() ? y : x;
    // Coordinates are a few thousand points; a millionth of a point is rounding.
    constexpr double kSlack = 1e-6;

    const bool identity = p.identity && std::isfinite(p.tolerance) && p.tolerance >= 2;
    const double tolerance = identity ? std::min(p.tolerance, 8.0) : 2.0;
    const double radius = std::max(std::ceil(tolerance * across.scale), 1.0);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const SupportRun& run = runs[i];
        require(run.end - run.start >= kMinimumRunPoints - kSlack, "runs are at least 48 points long");
        require(run.start >= p.from - kSlack && run.end <= p.to + 1 / along.scale + kSlack,
                "runs lie within the proposal's extent");
        require(run.start >= along.point(0) - kSlack && run.end <= along.point(along.extent) + kSlack,
                "runs lie within the buffer");
        require(run.line >= across.point(2) - kSlack && run.line <= across.point(across.extent - 2) + kSlack,
                "the line has two lines above it and one below in the buffer");
        if (p.identity) {
            require(std::fabs(run.line - p.fixed) <= tolerance, "the line lies within the tolerance");
        } else {
            require(std::fabs(run.line - p.fixed) <= (radius + 0.5) / across.scale + kSlack,
                    "the line lies within the search radius");
        }
        if (i > 0) require(runs[i - 1].end <= run.start + kSlack, "runs follow each other without overlap");
    }
}

void run(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const Question q = ask(input);
    const std::vector<SupportRun> runs = answer(q);

    const bool usable = q.width > 0 && q.height > 0 &&
                        q.pixels.size() == static_cast<std::size_t>(q.width) * q.height && q.region.absWidth() > 0 &&
                        q.region.absHeight() > 0;
    if (!usable) require(runs.empty(), "unusable input gives no runs");
    for (const SupportRun& r : runs) {
        require(r.line == runs.front().line, "all runs lie on one line");
        require(!std::isnan(r.start) && !std::isnan(r.end) && !std::isnan(r.line), "no NaN in runs");
    }
    if (q.plausible) {
        for (const SupportRun& r : runs) require(r.start < r.end, "runs run forwards");
        checkPlausible(q, runs);
    }

    Question inverted = q;
    for (std::uint8_t& p : inverted.pixels) p = static_cast<std::uint8_t>(255 - p);
    require(answer(inverted) == runs, "inverting the picture keeps the runs");
    require(answer(transposed(q)) == runs, "the transposed picture gives the same runs the other way");

    // The sampler's reader converts only what it needs from the colour tile;
    // it must see exactly what the whole conversion shows.
    if (usable) {
        std::vector<std::uint8_t> bgra(q.pixels.size() * 4, 255);
        for (std::size_t i = 0; i < q.pixels.size(); ++i) std::fill_n(bgra.begin() + 4 * i, 3, q.pixels[i]);
        const Image tile(q.width, q.height, static_cast<std::size_t>(q.width) * 4, std::move(bgra));
        TileGrayScratch scratch;
        require(tileSupportRuns(tile, q.region, q.proposal, q.grid, scratch).runs == runs,
                "converting only what is read gives the same runs");
    }
}

}  // namespace
}  // namespace scene

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    scene::run(data, size);
    return 0;
}
