#include "support/support_run_scan.h"

#include <algorithm>
#include <cmath>

namespace scene {
namespace {

constexpr double kMinimumRunPoints = 48.0;
constexpr double kMinimumHitShare = 0.94;
constexpr int kMinimumSharpness = 6;  // change of gradient on either side of the step
constexpr double kMinimumTolerance = 2.0;
constexpr double kMaximumTolerance = 8.0;

double searchTolerance(const SupportProposal& proposal) {
    // Geometry-only proposals know their line exactly; edges found in pixels may
    // have drifted by their own measured tolerance, within reason.
    if (!proposal.identity || !std::isfinite(proposal.tolerance) || proposal.tolerance < kMinimumTolerance) {
        return kMinimumTolerance;
    }
    return std::min(proposal.tolerance, kMaximumTolerance);
}

inline int magnitude(int value) { return value < 0 ? -value : value; }

// 1 for a step of at least kSupportMinimumStep levels between line L-1 and line L
// that is sharp on one side of it (a soft gradient that merely continues is
// no edge), else 0. Written without branches so that counting loops vectorise.
inline int hit(const std::uint8_t* p, std::ptrdiff_t acrossStride) {
    const int a = p[0];
    const int b = p[-acrossStride];
    const int c = p[-2 * acrossStride];
    const int e = p[acrossStride];
    return static_cast<int>(magnitude(a - b) >= kSupportMinimumStep) &
           (static_cast<int>(magnitude(a - 2 * b + c) >= kMinimumSharpness) |
            static_cast<int>(magnitude(2 * a - b - e) >= kMinimumSharpness));
}

// Hits on one line, counted without the run bookkeeping.
std::ptrdiff_t countHits(const SupportLinePixels& pixels, std::ptrdiff_t positions) {
    std::ptrdiff_t count = 0;
    if (pixels.alongStride == 1) {
        // Rows: the positions are neighbouring bytes.
        for (std::ptrdiff_t i = 0; i < positions; ++i) count += hit(pixels.start + i, pixels.acrossStride);
    } else {
        for (std::ptrdiff_t i = 0; i < positions; ++i) {
            count += hit(pixels.start + i * pixels.alongStride, pixels.acrossStride);
        }
    }
    return count;
}

struct OpenRun {
    std::ptrdiff_t first = 0;
    std::ptrdiff_t last = 0;
    std::ptrdiff_t count = 0;
};

}  // namespace

bool SupportRunScan::searches(std::ptrdiff_t line) const {
    return !identityReach || std::fabs(lineCoord(line) - fixed) <= *identityReach;
}

std::ptrdiff_t SupportRunScan::shortestRun() const {
    // No run is longer than the buffer, whatever the scale says.
    const double positions = std::min(std::ceil(kMinimumRunPoints * along.scale), static_cast<double>(along.extent));
    return std::max<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(positions) - 1, 1);
}

std::optional<SupportRunScan> supportRunScan(int width, int height, const Rect& region, const SupportProposal& proposal,
                                             const std::optional<SupportPixelGrid>& grid) {
    if (width <= 0 || height <= 0) return std::nullopt;
    if (!(region.absWidth() > 0) || !(region.absHeight() > 0)) return std::nullopt;

    const Rect& bounds = grid ? grid->bounds : region;
    const double pixelWidth = grid ? grid->width : width;
    const double pixelHeight = grid ? grid->height : height;
    const double scaleX = pixelWidth / bounds.absWidth();
    const double scaleY = pixelHeight / bounds.absHeight();
    // A grid with no pixels or no extent would turn every position into an
    // infinity; there is nothing to map to.
    if (!(scaleX > 0) || !(scaleY > 0) || !std::isfinite(scaleX) || !std::isfinite(scaleY)) return std::nullopt;
    const double offsetX = grid ? std::trunc(grid->offset.x) : 0;
    const double offsetY = grid ? std::trunc(grid->offset.y) : 0;

    SupportRunScan scan;
    scan.horizontal = proposal.horizontal();
    const SupportAxis x{bounds.minX(), scaleX, offsetX, width};
    const SupportAxis y{bounds.minY(), scaleY, offsetY, height};
    scan.along = scan.horizontal ? x : y;
    scan.across = scan.horizontal ? y : x;
    const SupportAxis& along = scan.along;
    const SupportAxis& across = scan.across;

    // Bounds are worked out in doubles and clamped before they become indices,
    // so far-away or non-finite proposals cannot overflow.
    double firstPosition = std::ceil((proposal.from - along.origin) * along.scale) - along.offset;
    double lastPosition = std::floor((proposal.to - along.origin) * along.scale) - along.offset;
    if (std::isnan(firstPosition) || std::isnan(lastPosition)) return std::nullopt;
    firstPosition = std::max(firstPosition, 0.0);
    lastPosition = std::min(lastPosition, static_cast<double>(along.extent - 1));
    if (firstPosition >= lastPosition) return std::nullopt;
    scan.first = static_cast<std::ptrdiff_t>(firstPosition);
    scan.last = static_cast<std::ptrdiff_t>(lastPosition);

    const double centre = std::round((proposal.fixed - across.origin) * across.scale) - across.offset;
    if (std::isnan(centre)) return std::nullopt;
    const double tolerance = searchTolerance(proposal);
    const double radius = std::max(std::ceil(tolerance * across.scale), 1.0);
    // The edge test reads lines L-2 to L+1; lines outside the buffer never
    // score, so the scan leaves them out without changing the order of the rest.
    const double lowestLine = std::max(centre - radius, 2.0);
    const double highestLine = std::min(centre + radius, static_cast<double>(across.extent - 2));
    // Written so that a NaN (an infinite line with an infinite radius) fails too.
    if (!(lowestLine <= highestLine)) return std::nullopt;
    scan.lowestLine = static_cast<std::ptrdiff_t>(lowestLine);
    scan.highestLine = static_cast<std::ptrdiff_t>(highestLine);
    if (proposal.identity) scan.identityReach = tolerance;
    scan.fixed = proposal.fixed;

    // An accepted run holds at least 94 % hits over 48 points, so a line with
    // fewer hits than that in all cannot score; most candidate lines cross no
    // edge and are dismissed by a plain count. One hit of slack keeps the
    // bound on the safe side of rounding.
    scan.leastHits = std::floor(kMinimumHitShare * kMinimumRunPoints * along.scale) - 1;
    return scan;
}

std::optional<SupportRun> acceptedSupportRun(const SupportRunScan& scan, std::ptrdiff_t firstHit,
                                             std::ptrdiff_t lastHit, std::ptrdiff_t hits, double lineCoord) {
    const auto span = static_cast<double>(lastHit - firstHit + 1);
    if (span / scan.along.scale < kMinimumRunPoints) return std::nullopt;
    if (static_cast<double>(hits) / span < kMinimumHitShare) return std::nullopt;
    return SupportRun{scan.along.point(static_cast<double>(firstHit)),
                      scan.along.point(static_cast<double>(lastHit + 1)), lineCoord};
}

bool supportEdgeHit(const std::uint8_t* pixel, std::ptrdiff_t acrossStride) { return hit(pixel, acrossStride) != 0; }

double supportLineRuns(const SupportRunScan& scan, std::ptrdiff_t line, const SupportLinePixels& pixels,
                       std::vector<SupportRun>& runs) {
    const std::ptrdiff_t positions = scan.last - scan.first + 1;
    if (static_cast<double>(countHits(pixels, positions)) < scan.leastHits) return 0;

    const double lineCoord = scan.lineCoord(line);
    double score = 0;
    const auto close = [&](const OpenRun& run) {
        const std::optional<SupportRun> accepted = acceptedSupportRun(scan, run.first, run.last, run.count, lineCoord);
        if (!accepted) return;
        score += accepted->end - accepted->start;
        runs.push_back(*accepted);
    };

    std::optional<OpenRun> open;
    for (std::ptrdiff_t n = 0; n < positions; ++n) {
        const std::ptrdiff_t i = scan.first + n;
        if (hit(pixels.start + n * pixels.alongStride, pixels.acrossStride) != 0) {
            if (open && i - open->last <= kSupportBridgedDistance) {
                open->count += 1;
                open->last = i;
            } else {
                if (open) close(*open);
                open = OpenRun{i, i, 1};
            }
        } else if (open && i - open->last >= kSupportBridgedDistance) {
            close(*open);
            open.reset();
        }
    }
    if (open) close(*open);
    return score;
}

}  // namespace scene
