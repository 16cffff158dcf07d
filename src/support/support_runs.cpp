#include "support/support_runs.h"

#include <cstddef>

#include "support/support_run_scan.h"

namespace scene {

std::vector<SupportRun> supportRuns(std::span<const std::uint8_t> pixels, int width, int height, const Rect& region,
                                    const SupportProposal& proposal, const std::optional<SupportPixelGrid>& grid) {
    if (width <= 0 || height <= 0) return {};
    if (pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) return {};
    const std::optional<SupportRunScan> scan = supportRunScan(width, height, region, proposal, grid);
    if (!scan) return {};

    const std::ptrdiff_t rowStride = width;
    const std::ptrdiff_t alongStride = scan->horizontal ? 1 : rowStride;
    const std::ptrdiff_t acrossStride = scan->horizontal ? rowStride : 1;
    std::vector<SupportRun> best;
    std::vector<SupportRun> current;
    double bestScore = 0;
    for (std::ptrdiff_t line = scan->lowestLine; line <= scan->highestLine; ++line) {
        if (!scan->searches(line)) continue;
        current.clear();
        const SupportLinePixels linePixels{pixels.data() + line * acrossStride + scan->first * alongStride, alongStride,
                                           acrossStride};
        const double score = supportLineRuns(*scan, line, linePixels, current);
        // Ties keep the earlier line.
        if (score > bestScore) {
            bestScore = score;
            best.swap(current);
        }
    }
    return best;
}

}  // namespace scene
