#include "selected_support/selected_support_analysis.h"

#include <algorithm>
#include <cmath>

#include "platform/json_object.h"
#include "platform/number_format.h"
#include "selected_support/selected_contours.h"
#include "support/composed_support_tiles.h"
#include "support/tile_support_runs.h"

namespace scene {
namespace {

// The previous frame confirms only while it still shows the same desktop.
constexpr double kHistoryLifetime = 0.7;
// A run is the same line again when it moved at most this far across itself...
constexpr double kConfirmationShift = 1.0;
// ...and overlaps the earlier run by more than this share of the longer one.
constexpr double kConfirmationOverlap = 0.85;

SupportRun ownerRelative(const SupportRun& run, const SupportProposal& proposal) {
    const double along = proposal.horizontal() ? proposal.rect.minX() : proposal.rect.minY();
    const double across = proposal.horizontal() ? proposal.rect.minY() : proposal.rect.minX();
    return {run.start - along, run.end - along, run.line - across};
}

bool confirms(const SupportRun& earlier, const SupportRun& run) {
    if (std::fabs(earlier.line - run.line) > kConfirmationShift) return false;
    const double overlap = std::max(0.0, std::min(run.end, earlier.end) - std::max(run.start, earlier.start));
    return overlap / std::max(run.end - run.start, earlier.end - earlier.start) > kConfirmationOverlap;
}

std::string recordId(const std::string& historyKey, const SupportRun& relative) {
    return "selected:" + historyKey + ':' + std::to_string(std::llround(relative.start)) + ':' +
           std::to_string(std::llround(relative.end)) + ':' + std::to_string(std::llround(relative.line));
}

Json supportRecord(std::string id, const SupportProposal& proposal, const SupportRun& run, const SelectedFrame& frame,
                   double observedAtMS) {
    const Rect& owner = proposal.rect;
    Json record = sortedObject({
        {"displayId", frame.displayID},
        {"fixed", run.line},
        {"from", run.start},
        {"id", std::move(id)},
        {"observedAtMS", observedAtMS},
        {"ownerBounds",
         sortedObject(
             {{"height", owner.absHeight()}, {"width", owner.absWidth()}, {"x", owner.minX()}, {"y", owner.minY()}})},
        {"ownerId", proposal.owner},
    });
    auto& fields = record.get_ref<Json::object_t&>();
    if (proposal.identity) fields.emplace_hint(fields.end(), "proposalId", *proposal.identity);
    fields.emplace_hint(fields.end(), "side", proposal.side);
    fields.emplace_hint(fields.end(), "source", proposal.identity ? "composited-pixels" : "selected-contour");
    fields.emplace_hint(fields.end(), "to", run.end);
    fields.emplace_hint(fields.end(), "uptime", frame.observed);
    return record;
}

// The runs of every proposal in the frame, each proposal checked on its tile.
std::vector<std::vector<SupportRun>> frameRuns(const SelectedFrame& frame,
                                               const std::vector<SupportProposal>& proposals,
                                               SelectedSupportAnalysis& analysis) {
    std::vector<std::vector<SupportRun>> runs(proposals.size());
    const std::vector<ComposedSupportTile> tiles = composedSupportTiles(frame.image, frame.bounds, proposals);
    analysis.grayRegions = static_cast<int>(tiles.size());
    TileGrayScratch scratch;
    for (const ComposedSupportTile& tile : tiles) {
        analysis.grayPixels += tile.image.width() * tile.image.height();
        const SupportPixelGrid grid{frame.bounds, frame.image.width(), frame.image.height(), tile.pixelOrigin};
        for (const int index : tile.indices) {
            TileSupportRuns found = tileSupportRuns(tile.image, tile.bounds, proposals[index], grid, scratch);
            analysis.convertedPixels += found.convertedPixels;
            runs[index] = std::move(found.runs);
        }
    }
    return runs;
}

}  // namespace

std::string supportHistoryKey(const SupportProposal& proposal) {
    if (proposal.identity) return proposal.confirmationKey();
    return proposal.owner + ':' + proposal.side + ':' + identityNumber(proposal.rect.absWidth()) + ':' +
           identityNumber(proposal.rect.absHeight());
}

SelectedSupportAnalysis analyseSelectedFrame(const SelectedFrame& frame, const std::vector<SupportProposal>& proposals,
                                             const std::unordered_set<std::string>& dockOwners, SupportHistory& history,
                                             double wallMS, double uptime) {
    SelectedSupportAnalysis analysis;
    analysis.candidateCount = static_cast<int>(proposals.size());
    const std::vector<std::vector<SupportRun>> runs = frameRuns(frame, proposals, analysis);
    for (std::size_t k = 0; k < proposals.size(); ++k) {
        const int count = static_cast<int>(runs[k].size());
        analysis.rawRuns += count;
        if (dockOwners.contains(proposals[k].owner)) analysis.dockRuns += count;
    }
    const std::vector<std::vector<SupportRun>> filtered = selectedPairedContours(proposals, runs, dockOwners);

    const double observedAtMS = wallMS - std::max(0.0, uptime - frame.observed) * 1000;
    SupportHistory updated;
    std::unordered_set<std::string> recordIds;
    std::unordered_set<std::string> owners;
    for (std::size_t k = 0; k < proposals.size(); ++k) {
        const SupportProposal& proposal = proposals[k];
        std::string key = supportHistoryKey(proposal);
        const auto earlierEntry = history.find(key);
        const bool earlierCounts = earlierEntry != history.end() && earlierEntry->second.observed < frame.observed &&
                                   frame.observed - earlierEntry->second.observed < kHistoryLifetime;
        const std::vector<SupportRun>* earlier = earlierCounts ? &earlierEntry->second.runs : nullptr;

        std::vector<SupportRun>& entry =
            updated.try_emplace(key, SupportHistoryEntry{{}, frame.observed}).first->second.runs;
        for (const SupportRun& run : filtered[k]) {
            const SupportRun relative = ownerRelative(run, proposal);
            entry.push_back(relative);
            if (earlier == nullptr || std::none_of(earlier->begin(), earlier->end(), [&](const SupportRun& previous) {
                    return confirms(previous, relative);
                })) {
                continue;
            }
            std::string id = recordId(key, relative);
            if (!recordIds.insert(id).second) continue;
            analysis.records.push_back(supportRecord(std::move(id), proposal, run, frame, observedAtMS));
            if (!proposal.identity) owners.insert(proposal.owner);
        }
    }
    history = std::move(updated);
    analysis.pairedOwners = static_cast<int>(owners.size());
    return analysis;
}

}  // namespace scene
