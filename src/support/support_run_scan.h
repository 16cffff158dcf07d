#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/rect.h"
#include "support/support_proposal.h"
#include "support/support_run.h"
#include "support/support_runs.h"

namespace scene {

// How pixel positions of a buffer map to global points along or across a
// proposal's direction.
struct SupportAxis {
    double origin = 0;  // global points
    double scale = 0;   // pixels per point
    double offset = 0;  // whole pixels of the buffer inside the whole capture
    int extent = 0;     // buffer pixels

    double point(double pixel) const { return (pixel + offset) / scale + origin; }
};

// What the run finder looks at for one proposal in a `width` x `height`
// buffer: positions `first` to `last` along the proposal on each candidate
// line from `lowestLine` to `highestLine`, in that order. Every candidate line
// L reads lines L-2 to L+1, all inside the buffer.
struct SupportRunScan {
    SupportAxis along;
    SupportAxis across;
    bool horizontal = true;
    std::ptrdiff_t first = 0;
    std::ptrdiff_t last = 0;
    std::ptrdiff_t lowestLine = 0;
    std::ptrdiff_t highestLine = 0;
    // Lines farther than this from the proposal's line are not searched, when
    // the proposal has an identity.
    std::optional<double> identityReach;
    double fixed = 0;
    // Fewest hits a line must have in all to hold an accepted run.
    double leastHits = 0;

    double lineCoord(std::ptrdiff_t line) const { return across.point(static_cast<double>(line)); }
    bool searches(std::ptrdiff_t line) const;
    // The shortest span, in positions, that an accepted run can have, rounded
    // down so that it is never overstated.
    std::ptrdiff_t shortestRun() const;
};

// The scan of `proposal` over a `width` x `height` buffer showing `region`,
// mapped through `grid` when there is one; nothing when the input is unusable
// or no line can be searched.
std::optional<SupportRunScan> supportRunScan(int width, int height, const Rect& region, const SupportProposal& proposal,
                                             const std::optional<SupportPixelGrid>& grid);

// The pixels of one candidate line: `start` is its pixel at position `first`,
// the next position lies `alongStride` bytes on and the neighbouring lines lie
// `acrossStride` bytes before and after.
struct SupportLinePixels {
    const std::uint8_t* start = nullptr;
    std::ptrdiff_t alongStride = 1;
    std::ptrdiff_t acrossStride = 0;
};

// Gray levels between a line and the one before it that make a step.
inline constexpr int kSupportMinimumStep = 8;

// Whether the position at `pixel` is a crisp step between the line before and
// this one.
bool supportEdgeHit(const std::uint8_t* pixel, std::ptrdiff_t acrossStride);

// Hits on a line are joined into runs wherever they lie at most this far
// apart: one or two missed positions are anti-aliasing or a stray pixel, not
// a gap.
inline constexpr std::ptrdiff_t kSupportBridgedDistance = 2;

// The run of `hits` hits from `firstHit` to `lastHit` on the line at
// `lineCoord`, in global points, when it is long and whole enough to count.
std::optional<SupportRun> acceptedSupportRun(const SupportRunScan& scan, std::ptrdiff_t firstHit,
                                             std::ptrdiff_t lastHit, std::ptrdiff_t hits, double lineCoord);

// The accepted runs of candidate line `line`, appended to `runs`; returns their
// total length in points (0 when none is accepted).
double supportLineRuns(const SupportRunScan& scan, std::ptrdiff_t line, const SupportLinePixels& pixels,
                       std::vector<SupportRun>& runs);

}  // namespace scene
