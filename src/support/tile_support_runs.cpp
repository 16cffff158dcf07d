#include "support/tile_support_runs.h"

#include <array>

#include "support/support_run_scan.h"

namespace scene {
namespace {

// Probes further apart than this need runs hundreds of positions long.
constexpr std::ptrdiff_t kWidestProbeSpacing = 16;
// The share of misses an accepted run may hold, with a margin for rounding.
constexpr double kMissShare = 0.0601;

// Gray levels of the scan's lines (the candidate lines and the lines their test
// reads), converted from the tile the first time they are asked for.
class LazyLevels {
public:
    LazyLevels(const Image& tile, const SupportRunScan& scan, TileGrayScratch& scratch)
        : tile_(tile), scan_(scan), levels_(scratch.levels), known_(scratch.known) {
        top_ = scan.lowestLine - 2;
        positions_ = scan.last - scan.first + 1;
        const auto size = static_cast<std::size_t>((scan.highestLine + 1 - top_ + 1) * positions_);
        levels_.resize(size);
        known_.assign(size, 0);
    }

    std::uint8_t at(std::ptrdiff_t line, std::ptrdiff_t position) {
        const auto index = static_cast<std::size_t>((line - top_) * positions_ + (position - scan_.first));
        if (known_[index] == 0) {
            known_[index] = 1;
            ++converted_;
            levels_[index] = grayLevel(scan_.horizontal ? tile_.row(static_cast<int>(line)) + position * 4
                                                        : tile_.row(static_cast<int>(position)) + line * 4);
        }
        return levels_[index];
    }

    // The edge test of candidate line `line` at `position`. Most positions
    // show no step at all, which the line and the one before tell alone.
    bool hit(std::ptrdiff_t line, std::ptrdiff_t position) {
        const std::uint8_t level = at(line, position);
        const std::uint8_t before = at(line - 1, position);
        const int step = level - before;
        if (step < kSupportMinimumStep && -step < kSupportMinimumStep) return false;
        const std::array<std::uint8_t, 4> levels{at(line - 2, position), before, level, at(line + 1, position)};
        return supportEdgeHit(&levels[2], 1);
    }

    std::size_t converted() const { return converted_; }

private:
    const Image& tile_;
    const SupportRunScan& scan_;
    std::vector<std::uint8_t>& levels_;
    std::vector<char>& known_;
    std::ptrdiff_t top_ = 0;
    std::ptrdiff_t positions_ = 0;
    std::size_t converted_ = 0;
};

struct Chain {
    std::ptrdiff_t firstHit = 0;
    std::ptrdiff_t lastHit = 0;
    std::ptrdiff_t hits = 0;
};

// The run through the hit at `position`: hits join a run wherever they lie at
// most kSupportBridgedDistance apart, which does not depend on the direction
// of reading, so the run can be followed both ways from any of its hits.
Chain chainThrough(LazyLevels& levels, const SupportRunScan& scan, std::ptrdiff_t line, std::ptrdiff_t position) {
    Chain chain{position, position, 1};
    for (std::ptrdiff_t i = position + 1; i <= scan.last && i - chain.lastHit <= kSupportBridgedDistance; ++i) {
        if (!levels.hit(line, i)) continue;
        chain.lastHit = i;
        ++chain.hits;
    }
    for (std::ptrdiff_t i = position - 1; i >= scan.first && chain.firstHit - i <= kSupportBridgedDistance; --i) {
        if (!levels.hit(line, i)) continue;
        chain.firstHit = i;
        ++chain.hits;
    }
    return chain;
}

}  // namespace

std::ptrdiff_t supportProbeSpacing(std::ptrdiff_t shortestRun) {
    // A run of S positions holds at least floor(S / s) probes, which is at
    // least (S - s + 1) / s; when that exceeds its misses (at most 6 % of S),
    // one probe hits. The margin only grows with S, so the shortest run decides.
    const auto length = static_cast<double>(shortestRun);
    std::ptrdiff_t spacing = 1;
    for (std::ptrdiff_t s = 2; s <= kWidestProbeSpacing; ++s) {
        if (length * (1 - kMissShare * static_cast<double>(s)) > static_cast<double>(s - 1)) spacing = s;
    }
    return spacing;
}

TileSupportRuns tileSupportRuns(const Image& tile, const Rect& region, const SupportProposal& proposal,
                                const std::optional<SupportPixelGrid>& grid, TileGrayScratch& scratch) {
    TileSupportRuns result;
    if (tile.empty()) return result;
    const std::optional<SupportRunScan> scan = supportRunScan(tile.width(), tile.height(), region, proposal, grid);
    if (!scan) return result;

    LazyLevels levels(tile, *scan, scratch);
    const std::ptrdiff_t spacing = supportProbeSpacing(scan->shortestRun());
    std::vector<SupportRun> current;
    double bestScore = 0;
    for (std::ptrdiff_t line = scan->lowestLine; line <= scan->highestLine; ++line) {
        if (!scan->searches(line)) continue;
        current.clear();
        double score = 0;
        const double lineCoord = scan->lineCoord(line);
        // Every accepted run holds a probe that hits, so following the run
        // through each such probe finds them all, in order.
        std::ptrdiff_t covered = scan->first - 1;
        for (std::ptrdiff_t probe = scan->first; probe <= scan->last; probe += spacing) {
            if (probe <= covered || !levels.hit(line, probe)) continue;
            const Chain chain = chainThrough(levels, *scan, line, probe);
            covered = chain.lastHit;
            const std::optional<SupportRun> run =
                acceptedSupportRun(*scan, chain.firstHit, chain.lastHit, chain.hits, lineCoord);
            if (!run) continue;
            score += run->end - run->start;
            current.push_back(*run);
        }
        // Ties keep the earlier line, as in supportRuns.
        if (score > bestScore) {
            bestScore = score;
            result.runs.swap(current);
        }
    }
    result.convertedPixels = levels.converted();
    return result;
}

}  // namespace scene
