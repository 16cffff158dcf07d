#include "selected_support/selected_contours.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "platform/json_read.h"

namespace scene {
namespace {

// Ordinary application windows live on layers 0 to 8; panels, the Dock and the
// menu bar above that are not outlines the character walks along.
constexpr std::int64_t kLowestLayer = 0;
constexpr std::int64_t kHighestLayer = 8;
constexpr double kMinimumWindowWidth = 180;
constexpr double kMinimumWindowHeight = 80;
// Corners are rounded and shadowed: stay clear of them.
constexpr double kCornerInset = 12;
constexpr double kMinimumEdgeLength = 48;

constexpr double kMinimumDockWidth = 96;
constexpr double kDockInset = 12;
// The shelf line sits a few points below the item's top; where exactly depends
// on the Dock's style, so three lines are tried.
constexpr double kDockLineOffsets[] = {2, 7, 12};
constexpr double kDockRunFloor = 96;
constexpr double kDockRunCeiling = 200;
constexpr double kDockLineSlack = 0.5;

constexpr std::string_view kSides[] = {"top", "bottom", "left", "right"};
constexpr double kDefaultTolerance = 2.0;

// Geometry alone proposes these, so there is no source identity: the run finder
// keeps to the default band around `fixed`.
SupportProposal geometric(const std::string& owner, const Rect& rect, std::string_view side, double from, double to,
                          double fixed) {
    return SupportProposal{.owner = owner,
                           .rect = rect,
                           .side = std::string(side),
                           .from = from,
                           .to = to,
                           .fixed = fixed,
                           .identity = std::nullopt,
                           .tolerance = kDefaultTolerance};
}

// A layer is the window server's integer; a float here means a record that did
// not come from it, so it is not trusted even when it has no fraction.
std::optional<std::int64_t> layer(const Json& window) {
    const Json* value = json_read::member(window, "layer");
    if (value == nullptr || !value->is_number_integer()) return std::nullopt;
    return json_read::integer(*value);
}

void appendOutline(std::vector<SupportProposal>& proposals, const Json& window) {
    const auto id = json_read::string(window, "id");
    const auto rect = supportRect(window);
    if (!id || !rect) return;
    // Written as "at least" so that a NaN extent fails the test.
    if (!(rect->absWidth() >= kMinimumWindowWidth) || !(rect->absHeight() >= kMinimumWindowHeight)) return;
    const auto windowLayer = layer(window);
    if (!windowLayer || *windowLayer < kLowestLayer || *windowLayer > kHighestLayer) return;

    for (const std::string_view side : kSides) {
        const bool horizontal = side == "top" || side == "bottom";
        const double fixed = side == "top"      ? rect->minY()
                             : side == "bottom" ? rect->maxY()
                             : side == "left"   ? rect->minX()
                                                : rect->maxX();
        const double from = (horizontal ? rect->minX() : rect->minY()) + kCornerInset;
        const double to = (horizontal ? rect->maxX() : rect->maxY()) - kCornerInset;
        if (!(to - from >= kMinimumEdgeLength)) continue;
        proposals.push_back(geometric(*id, *rect, side, from, to, fixed));
    }
}

void appendShelf(std::vector<SupportProposal>& proposals, const Json& dock) {
    const auto id = json_read::string(dock, "id");
    const auto rect = supportRect(dock);
    if (!id || !rect || !(rect->absWidth() >= kMinimumDockWidth)) return;
    for (const double offset : kDockLineOffsets) {
        proposals.push_back(
            geometric(*id, *rect, "top", rect->minX() + kDockInset, rect->maxX() - kDockInset, rect->minY() + offset));
    }
}

// A shelf run must cover a good part of its item, or it is a reflection or an
// icon's edge rather than the shelf.
double qualifyingLength(const SupportProposal& proposal) {
    return std::min(kDockRunCeiling, std::max(kDockRunFloor, proposal.rect.absWidth() / 2));
}

bool qualifies(const SupportRun& run, const SupportProposal& proposal) {
    return run.end - run.start >= qualifyingLength(proposal);
}

struct Orientations {
    bool horizontal = false;
    bool vertical = false;
};

}  // namespace

std::vector<SupportProposal> selectedContourProposals(const Records& windows, const Records& docks,
                                                      const Records& visuals) {
    std::vector<SupportProposal> proposals = composedSupportProposals(windows, visuals);
    for (const Json& window : windows) appendOutline(proposals, window);
    for (const Json& dock : docks) appendShelf(proposals, dock);
    return proposals;
}

std::vector<std::vector<SupportRun>> selectedPairedContours(const std::vector<SupportProposal>& proposals,
                                                            const std::vector<std::vector<SupportRun>>& runs,
                                                            const std::unordered_set<std::string>& dockOwners) {
    // A proposal without a run list (the caller analysed fewer) found nothing.
    static const std::vector<SupportRun> kNoRuns;
    const auto runsOf = [&](std::size_t index) -> const std::vector<SupportRun>& {
        return index < runs.size() ? runs[index] : kNoRuns;
    };

    std::unordered_map<std::string, Orientations> orientations;
    std::unordered_map<std::string, SupportRun> bestShelf;
    for (std::size_t i = 0; i < proposals.size(); ++i) {
        const SupportProposal& proposal = proposals[i];
        if (proposal.identity) continue;
        const auto& found = runsOf(i);
        if (!dockOwners.contains(proposal.owner)) {
            if (found.empty()) continue;
            Orientations& seen = orientations[proposal.owner];
            (proposal.horizontal() ? seen.horizontal : seen.vertical) = true;
            continue;
        }
        for (const SupportRun& run : found) {
            if (!qualifies(run, proposal)) continue;
            const auto best = bestShelf.find(proposal.owner);
            if (best == bestShelf.end()) {
                bestShelf.emplace(proposal.owner, run);
                continue;
            }
            const double length = run.end - run.start;
            const double bestLength = best->second.end - best->second.start;
            if (length > bestLength || (length == bestLength && run.line < best->second.line)) best->second = run;
        }
    }

    std::vector<std::vector<SupportRun>> kept;
    kept.reserve(proposals.size());
    for (std::size_t i = 0; i < proposals.size(); ++i) {
        const SupportProposal& proposal = proposals[i];
        const auto& found = runsOf(i);
        if (proposal.identity) {
            kept.push_back(found);
        } else if (dockOwners.contains(proposal.owner)) {
            std::vector<SupportRun> shelf;
            const auto best = bestShelf.find(proposal.owner);
            if (best != bestShelf.end()) {
                for (const SupportRun& run : found) {
                    if (qualifies(run, proposal) && std::abs(run.line - best->second.line) < kDockLineSlack)
                        shelf.push_back(run);
                }
            }
            kept.push_back(std::move(shelf));
        } else {
            const auto seen = orientations.find(proposal.owner);
            const bool paired = seen != orientations.end() && seen->second.horizontal && seen->second.vertical;
            kept.push_back(paired ? found : std::vector<SupportRun>{});
        }
    }
    return kept;
}

}  // namespace scene
