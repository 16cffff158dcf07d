#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/image.h"
#include "platform/platform.h"
#include "platform/rect.h"
#include "platform/records.h"
#include "platform/runtime.h"
#include "platform/screen_capture.h"
#include "platform/workspace.h"
#include "selected_capture/selected_capture_health.h"
#include "selected_capture/selected_capture_words.h"

namespace scene {

// Keeps a low-rate capture stream of the one display the user chose in the
// content-sharing picker, judges its health, and hands its newest fresh frame
// to the samplers. Owns the streams, the selection, the published frame and the
// event log. Everything runs on the main queue, except frame delivery, which
// arrives on `output` and shares only the delivery counters, under
// `deliveryLock`. One instance, owned by the process object.
//
// The fields are public: the snapshot, the commands and the tests read them
// directly, as the rest of the system reads any main-queue state.
class SelectedCaptureSession {
public:
    // The unit in which the stream hands pixels to its readers. A plain value.
    struct Frame {
        Image image;
        Rect bounds;  // the display at selection time; the image covers exactly this
        std::uint32_t displayID = 0;
        std::uint64_t generation = 0;  // the session's generation when published
        std::uint64_t sequence = 0;    // `frames` after publishing it: 1, 2, 3, ...
        double observed = 0;           // capture time (uptime), never after publication
    };

    SelectedCaptureSession(Platform& platform, Runtime& runtime);
    SelectedCaptureSession(const SelectedCaptureSession&) = delete;
    SelectedCaptureSession& operator=(const SelectedCaptureSession&) = delete;

    // Presents the picker. Built by the selected-capture issue; empty for now.
    void select();
    // Pauses publication while capture is unsafe; the stream keeps running.
    void setPaused(bool paused);
    // Once per sampling pass: follows the display and the stream's health.
    // Built by the recovery issue; empty for now.
    void checkDisplay();
    // Ends the selection; `reason` becomes the state.
    void stop(std::string reason = std::string(selected_words::kStopped));

    // The newest frame when it is still fresh and still shows the selected
    // display as it was chosen; nothing otherwise.
    std::optional<Frame> current(double now) const;
    std::optional<Frame> current() const;
    // `region` (global points) of the current frame at width x height pixels,
    // with the frame's observation time.
    std::optional<std::pair<Image, double>> crop(const Rect& region, int width, int height) const;

    // `state`, except that a "ready" stream without a usable frame reads "stale".
    std::string displayState() const;
    Json metrics() const;
    std::optional<std::uint32_t> displayID() const { return selectedDisplay; }

    std::string state{selected_words::kSelectionRequired};
    std::uint64_t generation = 0;  // bumped by every transition; frames remember theirs
    std::uint64_t frames = 0;
    std::uint64_t starts = 0;
    std::uint64_t consents = 0;
    std::optional<std::int64_t> lastErrorCode;
    std::shared_ptr<CaptureStream> stream;           // the live stream
    std::shared_ptr<CaptureStream> suspendedStream;  // interrupted; restarted as is
    std::shared_ptr<CaptureStream> retiringStream;   // being stopped during a transport replacement
    // The last few replaced or lost streams, so their late callbacks are
    // recognised as ours and ignored.
    std::vector<std::shared_ptr<CaptureStream>> retiredStreams;
    bool replacementPending = false;
    std::uint64_t streamCreations = 0;
    std::optional<ContentFilter> selectedFilter;
    std::optional<DisplayID> selectedDisplay;
    std::optional<std::string> selectedDisplayUUID;
    bool sourceUnavailable = false;
    Rect bounds;  // the display's bounds at selection, global points
    std::optional<Frame> latest;
    std::optional<Frame> retained;  // newest frame with new pixels; idle frames reuse it
    bool paused = false;
    bool presenting = false;
    bool installed = false;
    bool displaySleeping = false;
    bool recoveryScheduled = false;
    // Bumped to invalidate delayed work and late completions of older decisions.
    std::uint64_t recoveryToken = 0;
    SelectedCaptureHealth health;
    std::int64_t totalRecoveries = 0;
    std::int64_t transportReplacements = 0;
    std::optional<std::string> recoveryReason;
    std::int64_t startCompletions = 0;
    Records events;  // oldest first, newest kEventLimit
    double primaryStartedAt = 0;
    std::vector<ObserverToken> workspaceObservers;
    const std::unique_ptr<Queue> output;  // where the stream delivers sample buffers

    // Shared with `output`: delivery counts and the one-frame-in-flight flag.
    mutable std::mutex deliveryLock;
    bool deliveryPending = false;
    std::uint64_t rawBuffers = 0;
    std::uint64_t ageRejectedBuffers = 0;
    std::map<int, std::uint64_t> statuses;  // buffers per frame status

    std::uint64_t frameCopyFailures = 0;  // main queue only
    std::optional<Rect> frameContentRect;
    std::optional<Rect> frameScreenRect;
    double frameScale = 0;
    double frameContentScale = 0;
    // Called after every state transition; the process entry resets the
    // samplers that depend on the selection.
    std::function<void()> onTransition;

    static constexpr std::size_t kEventLimit = 64;

private:
    void transition(const std::string& newState);
    void record(std::string_view event);
    bool owns(const CaptureStream* candidate) const;
    // Arranges a delayed restart; built by the recovery issue, empty for now.
    void scheduleRecovery();

    Platform& platform_;
    Runtime& runtime_;
};

}  // namespace scene
