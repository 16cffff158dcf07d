#include "support/support_runs.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace scene {
namespace {

constexpr double kMinimumRunPoints = 48.0;
constexpr double kMinimumHitShare = 0.94;
constexpr int kMinimumStep = 8;       // gray levels between the line and the one before it
constexpr int kMinimumSharpness = 6;  // change of gradient on either side of the step
// A hit this many positions after the last one still extends the run; one or
// two missed positions are anti-aliasing or a stray pixel, not a gap.
constexpr std::ptrdiff_t kBridgedDistance = 3;
constexpr double kMinimumTolerance = 2.0;
constexpr double kMaximumTolerance = 8.0;

// How pixel positions of the buffer map to global points along and across the
// proposal's direction.
struct Axis {
    double origin = 0;  // global points
    double scale = 0;   // pixels per point
    double offset = 0;  // whole pixels of the buffer inside the whole capture
    int extent = 0;     // buffer pixels
    std::ptrdiff_t stride = 0;

    double point(double pixel) const { return (pixel + offset) / scale + origin; }
};

double searchTolerance(const SupportProposal& proposal) {
    // Geometry-only proposals know their line exactly; edges found in pixels may
    // have drifted by their own measured tolerance, within reason.
    if (!proposal.identity || !std::isfinite(proposal.tolerance) || proposal.tolerance < kMinimumTolerance) {
        return kMinimumTolerance;
    }
    return std::min(proposal.tolerance, kMaximumTolerance);
}

inline int magnitude(int value) { return value < 0 ? -value : value; }

// 1 for a step of at least kMinimumStep levels between line L-1 and line L
// that is sharp on one side of it (a soft gradient that merely continues is
// no edge), else 0. Written without branches so that counting loops vectorise.
inline int hit(const std::uint8_t* p, std::ptrdiff_t acrossStride) {
    const int a = p[0];
    const int b = p[-acrossStride];
    const int c = p[-2 * acrossStride];
    const int e = p[acrossStride];
    return static_cast<int>(magnitude(a - b) >= kMinimumStep) &
           (static_cast<int>(magnitude(a - 2 * b + c) >= kMinimumSharpness) |
            static_cast<int>(magnitude(2 * a - b - e) >= kMinimumSharpness));
}

// Hits on one line, counted without the run bookkeeping.
std::ptrdiff_t countHits(const std::uint8_t* row, std::ptrdiff_t first, std::ptrdiff_t last, std::ptrdiff_t alongStride,
                         std::ptrdiff_t acrossStride) {
    std::ptrdiff_t count = 0;
    if (alongStride == 1) {
        // Rows: the positions are neighbouring bytes.
        for (std::ptrdiff_t i = first; i <= last; ++i) count += hit(row + i, acrossStride);
    } else {
        for (std::ptrdiff_t i = first; i <= last; ++i) count += hit(row + i * alongStride, acrossStride);
    }
    return count;
}

struct OpenRun {
    std::ptrdiff_t first = 0;
    std::ptrdiff_t last = 0;
    std::ptrdiff_t count = 0;
};

}  // namespace

std::vector<SupportRun> supportRuns(std::span<const std::uint8_t> pixels, int width, int height, const Rect& region,
                                    const SupportProposal& proposal, const std::optional<SupportPixelGrid>& grid) {
    if (width <= 0 || height <= 0) return {};
    if (pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) return {};
    if (!(region.absWidth() > 0) || !(region.absHeight() > 0)) return {};

    const Rect& bounds = grid ? grid->bounds : region;
    const double pixelWidth = grid ? grid->width : width;
    const double pixelHeight = grid ? grid->height : height;
    const double scaleX = pixelWidth / bounds.absWidth();
    const double scaleY = pixelHeight / bounds.absHeight();
    // A grid with no pixels or no extent would turn every position into an
    // infinity; there is nothing to map to.
    if (!(scaleX > 0) || !(scaleY > 0) || !std::isfinite(scaleX) || !std::isfinite(scaleY)) return {};
    const double offsetX = grid ? std::trunc(grid->offset.x) : 0;
    const double offsetY = grid ? std::trunc(grid->offset.y) : 0;

    const Axis x{bounds.minX(), scaleX, offsetX, width, 1};
    const Axis y{bounds.minY(), scaleY, offsetY, height, width};
    const bool horizontal = proposal.horizontal();
    const Axis& along = horizontal ? x : y;
    const Axis& across = horizontal ? y : x;

    // Bounds are worked out in doubles and clamped before they become indices,
    // so far-away or non-finite proposals cannot overflow.
    double firstPosition = std::ceil((proposal.from - along.origin) * along.scale) - along.offset;
    double lastPosition = std::floor((proposal.to - along.origin) * along.scale) - along.offset;
    if (std::isnan(firstPosition) || std::isnan(lastPosition)) return {};
    firstPosition = std::max(firstPosition, 0.0);
    lastPosition = std::min(lastPosition, static_cast<double>(along.extent - 1));
    if (firstPosition >= lastPosition) return {};
    const auto first = static_cast<std::ptrdiff_t>(firstPosition);
    const auto last = static_cast<std::ptrdiff_t>(lastPosition);

    const double centre = std::round((proposal.fixed - across.origin) * across.scale) - across.offset;
    if (std::isnan(centre)) return {};
    const double tolerance = searchTolerance(proposal);
    const double radius = std::max(std::ceil(tolerance * across.scale), 1.0);
    // The edge test reads lines L-2 to L+1; lines outside the buffer never
    // score, so the loop skips them without changing the order of the rest.
    const double lowestLine = std::max(centre - radius, 2.0);
    const double highestLine = std::min(centre + radius, static_cast<double>(across.extent - 2));
    if (lowestLine > highestLine) return {};

    // An accepted run holds at least 94 % hits over 48 points, so a line with
    // fewer hits than that in all cannot score; most candidate lines cross no
    // edge and are dismissed by a plain count. One hit of slack keeps the
    // bound on the safe side of rounding.
    const double leastHits = std::floor(kMinimumHitShare * kMinimumRunPoints * along.scale) - 1;

    std::vector<SupportRun> best;
    std::vector<SupportRun> current;
    double bestScore = 0;
    const std::uint8_t* data = pixels.data();
    for (auto line = static_cast<std::ptrdiff_t>(lowestLine); line <= static_cast<std::ptrdiff_t>(highestLine);
         ++line) {
        const double lineCoord = across.point(static_cast<double>(line));
        if (proposal.identity && std::fabs(lineCoord - proposal.fixed) > tolerance) continue;

        current.clear();
        double score = 0;
        const auto close = [&](const OpenRun& run) {
            const auto span = static_cast<double>(run.last - run.first + 1);
            if (span / along.scale < kMinimumRunPoints) return;
            if (static_cast<double>(run.count) / span < kMinimumHitShare) return;
            const SupportRun accepted{along.point(static_cast<double>(run.first)),
                                      along.point(static_cast<double>(run.last + 1)), lineCoord};
            score += accepted.end - accepted.start;
            current.push_back(accepted);
        };

        const std::uint8_t* row = data + line * across.stride;
        if (static_cast<double>(countHits(row, first, last, along.stride, across.stride)) < leastHits) continue;
        std::optional<OpenRun> open;
        for (std::ptrdiff_t i = first; i <= last; ++i) {
            if (hit(row + i * along.stride, across.stride) != 0) {
                if (open && i - open->last < kBridgedDistance) {
                    open->count += 1;
                    open->last = i;
                } else {
                    if (open) close(*open);
                    open = OpenRun{i, i, 1};
                }
            } else if (open && i - open->last >= kBridgedDistance - 1) {
                close(*open);
                open.reset();
            }
        }
        if (open) close(*open);

        if (score > bestScore) {
            bestScore = score;
            best.swap(current);
        }
    }
    return best;
}

}  // namespace scene
