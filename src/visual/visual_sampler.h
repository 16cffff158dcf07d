#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/records.h"
#include "platform/runtime.h"
#include "platform/workspace.h"

namespace scene {

class NativeCaptureAccess;

// Visual edges of the focused window, captured from the selected display
// stream and analysed off the main queue. All fields are main-queue state; the
// analysis runs on `queue`, and anything it hands back carries the `generation`
// it started under so that a reset turns it into a no-op.
class VisualSampler {
public:
    VisualSampler(Runtime& runtime, NativeCaptureAccess& capture, SystemVersion system);
    // Joins the queue's thread before the state its tasks use goes away.
    ~VisualSampler();
    VisualSampler(const VisualSampler&) = delete;
    VisualSampler& operator=(const VisualSampler&) = delete;

    std::unique_ptr<Queue> queue;
    // The edge tracker joins here with the edge analysis; it lives on `queue`.
    int generation = 0;
    bool busy = false;
    double lastStarted = 0;  // uptime of the last capture start
    std::string lastKey;     // scene key, window id and integer size being watched
    Records latest;
    double latestAt = 0;  // observation time of the published analysis; 0 since a reset
    std::string status = "off";
    double analysisMS = 0;
    double captureMS = 0;
    double backoff = 1.0;  // seconds of extra spacing between captures

    void reset(const std::string& status);
    void sample(const std::optional<Json>& window, const std::string& key, bool enabled, bool occupied);

private:
    Runtime& runtime_;
    NativeCaptureAccess& capture_;
    SystemVersion system_;
};

}  // namespace scene
