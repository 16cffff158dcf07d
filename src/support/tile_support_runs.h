#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/image.h"
#include "platform/rect.h"
#include "support/support_proposal.h"
#include "support/support_run.h"
#include "support/support_runs.h"

namespace scene {

// Gray levels kept between calls, so that checking many proposals one after
// another reuses memory that is already mapped.
struct TileGrayScratch {
    std::vector<std::uint8_t> levels;
    std::vector<char> known;
};

struct TileSupportRuns {
    std::vector<SupportRun> runs;
    std::size_t convertedPixels = 0;  // pixels of the tile turned to gray for the answer
};

// The runs supportRuns finds in the gray conversion of `tile` (a BGRA crop
// showing `region`), converting only the pixels the answer depends on. An
// accepted run is long and nearly unbroken, so it hits on at least one of a
// sparse comb of positions: each line is probed on that comb, and runs are
// followed from the probes that hit.
TileSupportRuns tileSupportRuns(const Image& tile, const Rect& region, const SupportProposal& proposal,
                                const std::optional<SupportPixelGrid>& grid, TileGrayScratch& scratch);

// The widest spacing of probe positions such that every run `shortestRun` or
// more positions long, with at most 6 % misses, holds a probe that hits; 1
// when runs are too short for any gain.
std::ptrdiff_t supportProbeSpacing(std::ptrdiff_t shortestRun);

}  // namespace scene
