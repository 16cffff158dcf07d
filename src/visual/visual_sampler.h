#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/image.h"
#include "platform/platform_error.h"
#include "platform/records.h"
#include "platform/runtime.h"
#include "platform/workspace.h"
#include "visual/visual_edge_tracker.h"

namespace scene {

class NativeCaptureAccess;

// Visual edges of the focused window, captured from the selected display
// stream and analysed off the main queue. All fields but `tracker` are
// main-queue state; the analysis and `tracker` live on `queue`, and anything
// handed back carries the `generation` it started under so that a reset turns
// it into a no-op.
class VisualSampler {
public:
    VisualSampler(Runtime& runtime, NativeCaptureAccess& capture, SystemVersion system);
    // Joins the queue's thread before the state its tasks use goes away.
    ~VisualSampler();
    VisualSampler(const VisualSampler&) = delete;
    VisualSampler& operator=(const VisualSampler&) = delete;

    std::unique_ptr<Queue> queue;
    VisualEdgeTracker tracker;
    // 64 bits: while the stream is away every pass bumps it.
    std::int64_t generation = 0;
    bool busy = false;       // a capture or analysis is in flight
    double lastStarted = 0;  // uptime of the last capture start
    std::string lastKey;     // scene key, window id and integer size being watched
    Records latest;
    double latestAt = 0;  // observation time of the published analysis; 0 since a reset
    std::string status = "off";
    double analysisMS = 0;  // thread CPU time of the last analysis
    double captureMS = 0;   // from asking for a capture to holding its image
    double backoff = 1.0;   // seconds of extra spacing between captures

    void reset(const std::string& status);
    void sample(const std::optional<Json>& window, const std::string& key, bool enabled, bool occupied);

private:
    struct Capture {
        std::int64_t generation = 0;
        double started = 0;
        Json window;
    };

    void finish(const Capture& capture, std::optional<Image> image, const std::optional<PlatformError>& error,
                std::optional<double> frameTime);
    void fail();
    void analyse(const Capture& capture, const Image& image, double observed);
    void publish(std::int64_t startedGeneration, Records records, double milliseconds, bool converted, double observed);

    Runtime& runtime_;
    NativeCaptureAccess& capture_;
    SystemVersion system_;
    // Main-queue completions hold it weakly and skip their work once the
    // sampler is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace scene
