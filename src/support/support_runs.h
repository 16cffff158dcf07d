#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/rect.h"
#include "support/support_proposal.h"
#include "support/support_run.h"

namespace scene {

// Where a gray buffer sits in the whole capture it was cut from, so that pixel
// positions map back to global points through the whole capture's scale.
struct SupportPixelGrid {
    Rect bounds;    // global points covered by the whole capture
    int width = 0;  // pixel size of the whole capture
    int height = 0;
    Point offset;  // pixel position of the buffer's top-left pixel (whole numbers)
};

// The stretches of a crisp one-pixel step near the proposal's line: scans the
// pixel lines within its tolerance of `fixed`, keeps the one whose accepted
// runs (48 points or longer, 94 % hits) cover the most length, and returns
// those runs in global points. Empty when nothing qualifies or the input is
// unusable. `pixels` is `width` x `height` gray bytes, row-major; `region` is
// the global rect they show, used for the mapping only when `grid` is absent.
std::vector<SupportRun> supportRuns(std::span<const std::uint8_t> pixels, int width, int height, const Rect& region,
                                    const SupportProposal& proposal,
                                    const std::optional<SupportPixelGrid>& grid = std::nullopt);

}  // namespace scene
