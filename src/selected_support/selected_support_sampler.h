#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/image.h"
#include "platform/records.h"
#include "platform/rect.h"
#include "platform/runtime.h"
#include "selected_support/selected_support_analysis.h"
#include "support/support_pixel_sampler.h"
#include "support/support_proposal.h"
#include "support/support_run.h"

namespace scene {

// Supports confirmed in the frames of the selected display stream. Owns the
// store of published contours and the per-candidate run history. Everything but
// `previous` lives on the main queue; `previous` belongs to `queue`, where the
// frame analysis runs.
class SelectedSupportSampler {
public:
    explicit SelectedSupportSampler(Runtime& runtime);
    // Joins the queue's thread before the state its tasks use goes away.
    ~SelectedSupportSampler();
    SelectedSupportSampler(const SelectedSupportSampler&) = delete;
    SelectedSupportSampler& operator=(const SelectedSupportSampler&) = delete;

    SupportPixelSampler storage;
    std::unique_ptr<Queue> queue;
    int generation = 0;
    bool busy = false;
    std::string status = "selection-required";
    std::uint64_t lastSequence = 0;  // the frame last taken for analysis
    Rect bounds;                     // display bounds of the latest usable frame
    std::uint32_t displayID = 0;
    double analysisMS = 0;
    double captureMS = 0;  // frames arrive captured; kept for the metrics' shape
    int grayPixels = 0;
    int grayRegions = 0;
    int candidateCount = 0;
    int pairedOwners = 0;
    int rawRuns = 0;
    int dockRuns = 0;
    // History key -> owner-relative runs of the last analysed frame and when
    // that frame was observed.
    SupportHistory previous;

    void reset(const std::string& status);
    // Fresh contours clipped to the current display; short remnants are left out.
    Records fresh() const;
    void sample(const std::optional<Image>& image, const Rect& bounds, std::uint32_t displayID, double observed,
                std::uint64_t sequence, const Records& windows, const Records& docks, const Records& visuals,
                const std::optional<std::string>& anchor);

private:
    // Moves the published contours along with their owners, then withdraws
    // those whose owner is gone or no longer where it was.
    void followOwners(const Records& windows, const Records& docks);
    void analyse(SelectedFrame frame, std::vector<SupportProposal> proposals,
                 std::unordered_set<std::string> dockOwners, int startedGeneration);
    void publish(int startedGeneration, double observed, SelectedSupportAnalysis analysis, double milliseconds);

    Runtime& runtime_;
    // Lets results posted back to the main queue notice that the sampler went.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace scene
