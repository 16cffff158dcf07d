#include "selected_support/selected_support_sampler.h"

#include <algorithm>

#include "platform/json_read.h"

namespace scene {
namespace {

constexpr double kStorageLifetime = 0.7;
// A frame older than this no longer shows the desktop the pass sees.
constexpr double kFrameLifetime = 0.7;
// Remnants shorter than this after clipping are too small to stand on.
constexpr double kMinimumClippedLength = 48;

constexpr const char* kCapturePaused = "capture-paused";
constexpr const char* kSideKey = "side";
constexpr const char* kFromKey = "from";
constexpr const char* kToKey = "to";
constexpr const char* kFixedKey = "fixed";

bool horizontalSide(const std::string& side) { return side == "top" || side == "bottom"; }

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

void SelectedSupportSampler::sample(const std::optional<Image>& image, const Rect& frameBounds,
                                    std::uint32_t frameDisplayID, double observed, std::uint64_t,
                                    const Records& windows, const Records& docks, const Records&,
                                    const std::optional<std::string>&) {
    const double now = runtime_.clock().uptime();
    // Published contours are moved along with dragged windows before the owner
    // check; that step arrives with contour positioning.
    storage.updateOwners(windows, docks);

    const bool usable = image.has_value() && now >= observed && now - observed < kFrameLifetime;
    if (!usable) {
        if (status != kCapturePaused || !storage.latest.empty()) reset(kCapturePaused);
        return;
    }
    bounds = frameBounds;
    displayID = frameDisplayID;
    // Proposals, tiling, run finding and two-frame confirmation come with the
    // contour analysis.
}

SelectedSupportSampler::~SelectedSupportSampler() { queue.reset(); }

}  // namespace scene
