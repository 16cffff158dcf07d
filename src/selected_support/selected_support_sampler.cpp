#include "selected_support/selected_support_sampler.h"

#include <algorithm>

#include "platform/json_read.h"
#include "selected_support/selected_contour_position.h"
#include "selected_support/selected_contours.h"

namespace scene {
namespace {

constexpr double kStorageLifetime = 0.7;
// A frame older than this no longer shows the desktop the pass sees; results
// published later than this after their frame are stale.
constexpr double kFrameLifetime = 0.7;
// Remnants shorter than this after clipping are too small to stand on.
constexpr double kMinimumClippedLength = 48;
// Proposals analysed per frame at most; the anchor's and the Dock's come first.
constexpr std::size_t kProposalLimit = 192;

constexpr const char* kCapturePaused = "capture-paused";
constexpr const char* kReady = "ready";
constexpr const char* kStale = "stale";
constexpr const char* kSideKey = "side";
constexpr const char* kFromKey = "from";
constexpr const char* kToKey = "to";
constexpr const char* kFixedKey = "fixed";

bool horizontalSide(const std::string& side) { return side == "top" || side == "bottom"; }

// The anchor's own window first, then the Dock, then tops, then the rest; in
// list order within each rank, and no more than the limit.
std::vector<SupportProposal> rankedProposals(std::vector<SupportProposal> proposals,
                                             const std::optional<std::string>& anchor,
                                             const std::unordered_set<std::string>& dockOwners) {
    std::vector<SupportProposal> ranks[4];
    for (SupportProposal& proposal : proposals) {
        const int rank = anchor && proposal.owner == *anchor   ? 0
                         : dockOwners.contains(proposal.owner) ? 1
                         : proposal.side == "top"              ? 2
                                                               : 3;
        ranks[rank].push_back(std::move(proposal));
    }
    std::vector<SupportProposal> ranked;
    ranked.reserve(std::min(proposals.size(), kProposalLimit));
    for (auto& rank : ranks) {
        for (SupportProposal& proposal : rank) {
            if (ranked.size() == kProposalLimit) return ranked;
            ranked.push_back(std::move(proposal));
        }
    }
    return ranked;
}

// Contours follow their owners; other records stay as they are.
Json followingOwner(Json record, const SupportOwners& owners) {
    auto moved = positionedSelectedContour(record, owners);
    return moved ? std::move(*moved) : std::move(record);
}

}  // namespace

SelectedSupportSampler::SelectedSupportSampler(Runtime& runtime)
    : storage(runtime.clock(), kStorageLifetime),
      queue(runtime.makeSerialQueue("scene.selected-support")),
      runtime_(runtime) {}

void SelectedSupportSampler::reset(const std::string& status) {
    generation += 1;
    storage.reset(status);
    this->status = status;
    lastSequence = 0;
    // The history is the analysis queue's; clearing it there orders the wipe
    // behind any analysis already queued.
    queue->post([this] { previous.clear(); });
}

Records SelectedSupportSampler::fresh() const {
    Records result;
    for (Json record : storage.fresh()) {
        const auto side = json_read::string(record, kSideKey);
        const auto from = json_read::strictDouble(record, kFromKey);
        const auto to = json_read::strictDouble(record, kToKey);
        const auto fixed = json_read::strictDouble(record, kFixedKey);
        if (!side || !from || !to || !fixed) continue;
        const bool horizontal = horizontalSide(*side);
        const double acrossMin = horizontal ? bounds.minY() : bounds.minX();
        const double acrossMax = horizontal ? bounds.maxY() : bounds.maxX();
        const double alongMin = horizontal ? bounds.minX() : bounds.minY();
        const double alongMax = horizontal ? bounds.maxX() : bounds.maxY();
        if (*fixed < acrossMin || *fixed > acrossMax) continue;
        const double start = std::max(*from, alongMin);
        const double end = std::min(*to, alongMax);
        if (end - start < kMinimumClippedLength) continue;
        record[kFromKey] = start;
        record[kToKey] = end;
        result.push_back(std::move(record));
    }
    return result;
}

void SelectedSupportSampler::followOwners(const Records& windows, const Records& docks) {
    SupportOwners owners = supportOwners(windows, docks);
    for (Json& record : storage.latest) record = followingOwner(std::move(record), owners);
    storage.updateOwners(std::move(owners));
}

void SelectedSupportSampler::sample(const std::optional<Image>& image, const Rect& frameBounds,
                                    std::uint32_t frameDisplayID, double observed, std::uint64_t sequence,
                                    const Records& windows, const Records& docks, const Records& visuals,
                                    const std::optional<std::string>& anchor) {
    const double now = runtime_.clock().uptime();
    const bool usable = image.has_value() && now >= observed && now - observed < kFrameLifetime;
    // Without a frame, an analysis in flight or anything published, nothing
    // reads the owners before the next pass that needs them builds them anew.
    if (usable || busy || !storage.latest.empty()) followOwners(windows, docks);
    if (!usable) {
        if (status != kCapturePaused || !storage.latest.empty()) reset(kCapturePaused);
        return;
    }
    bounds = frameBounds;
    displayID = frameDisplayID;
    if (busy || sequence == lastSequence) return;
    busy = true;
    lastSequence = sequence;

    std::unordered_set<std::string> dockOwners;
    for (const Json& dock : docks) {
        if (auto id = json_read::string(dock, "id")) dockOwners.insert(std::move(*id));
    }
    std::vector<SupportProposal> proposals =
        rankedProposals(selectedContourProposals(windows, docks, visuals), anchor, dockOwners);

    analyse(SelectedFrame{*image, frameBounds, frameDisplayID, observed}, std::move(proposals), std::move(dockOwners),
            generation);
}

void SelectedSupportSampler::analyse(SelectedFrame frame, std::vector<SupportProposal> proposals,
                                     std::unordered_set<std::string> dockOwners, int startedGeneration) {
    queue->post([this, alive = std::weak_ptr<int>(alive_), frame = std::move(frame), proposals = std::move(proposals),
                 dockOwners = std::move(dockOwners), startedGeneration] {
        const Clock& clock = runtime_.clock();
        const double started = clock.uptime();
        SelectedSupportAnalysis analysis =
            analyseSelectedFrame(frame, proposals, dockOwners, previous, clock.wallSeconds() * 1000, started);
        const double milliseconds = (clock.uptime() - started) * 1000;
        runtime_.mainQueue().post([this, alive, startedGeneration, observed = frame.observed,
                                   analysis = std::move(analysis), milliseconds]() mutable {
            if (alive.expired()) return;
            publish(startedGeneration, observed, std::move(analysis), milliseconds);
        });
    });
}

void SelectedSupportSampler::publish(int startedGeneration, double observed, SelectedSupportAnalysis analysis,
                                     double milliseconds) {
    busy = false;
    if (generation != startedGeneration) return;
    analysisMS = milliseconds;
    grayPixels = analysis.grayPixels;
    grayRegions = analysis.grayRegions;
    candidateCount = analysis.candidateCount;
    pairedOwners = analysis.pairedOwners;
    rawRuns = analysis.rawRuns;
    dockRuns = analysis.dockRuns;
    if (runtime_.clock().uptime() - observed >= kFrameLifetime) {
        status = kStale;
        return;
    }
    Records published;
    published.reserve(analysis.records.size());
    for (Json& record : analysis.records) {
        Json placed = followingOwner(std::move(record), storage.owners);
        if (storage.ownerMatches(placed)) published.push_back(std::move(placed));
    }
    storage.latest = std::move(published);
    storage.latestAt = observed;
    status = kReady;
}

SelectedSupportSampler::~SelectedSupportSampler() { queue.reset(); }

}  // namespace scene
