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
#include "platform/pixel_pool.h"
#include "platform/platform.h"
#include "platform/records.h"
#include "platform/rect.h"
#include "platform/runtime.h"
#include "platform/screen_capture.h"
#include "platform/workspace.h"
#include "selected_capture/main_queue_hop.h"
#include "selected_capture/selected_capture_health.h"
#include "selected_capture/selected_capture_words.h"

namespace scene {

// Keeps a low-rate capture stream of the one display the user chose in the
// content-sharing picker, judges its health, recovers it, and hands its newest
// fresh frame to the samplers. Owns the streams, the selection, the published
// frame and the event log. Everything runs on the main queue, except frame
// delivery, which arrives on `output` and shares only the delivery counters and
// the delivery gate, under `deliveryLock`. Platform callbacks from any thread
// hop to the main queue first. One instance, owned by the process object.
//
// The fields are public: the snapshot, the commands and the tests read them
// directly, as the rest of the system reads any main-queue state.
class SelectedCaptureSession final : private PickerObserver, private StreamOutput, private StreamDelegate {
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
    // On the main queue. Stops the streams and observers the session set up and
    // waits for `output` to finish what it is running before any field goes.
    ~SelectedCaptureSession() override;
    SelectedCaptureSession(const SelectedCaptureSession&) = delete;
    SelectedCaptureSession& operator=(const SelectedCaptureSession&) = delete;

    // Presents the picker; the first call also installs the picker and the
    // sleep and wake observers, which then stay for the session's life.
    void select();
    // Pauses publication while capture is unsafe; the stream keeps running.
    void setPaused(bool paused);
    // Once per sampling pass: follows the display and the stream's health, and
    // replaces a stalled stream or gives up on it.
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
    // The same entries written into `into`, an object that may hold them from
    // an earlier call: its nodes are reused rather than built anew each pass.
    void writeMetrics(Json& into) const;
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
    // Where the stream delivers sample buffers. Not const: the destructor ends
    // it first, since its tasks use the fields declared after it.
    std::unique_ptr<Queue> output;

    // Shared with `output`: delivery counts, the one-frame-in-flight flag and
    // the delivery gate.
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
    static constexpr std::size_t kRetiredStreamLimit = 3;
    static constexpr double kRecoveryDelay = 2.0;
    static constexpr double kTransportStopTimeout = 5.0;
    // Buffers older than the fresh limit, or from further ahead than the host
    // clock could plausibly drift, are counted and dropped.
    static constexpr double kEarliestBufferAge = -0.1;
    // Frame copies kept, lent and idle, while a display is selected: the
    // latest frame holds one and the next copy the other, and the frame it
    // replaces comes back in its place. A reader still holding a frame when a
    // copy is due costs one allocation, not a storage kept for good.
    static constexpr std::size_t kKeptFrameCopies = 2;

private:
    using StreamRef = std::shared_ptr<CaptureStream>;

    // What frame intake needs to know of the main queue's state, republished
    // under `deliveryLock` at the end of every main-queue step that may change
    // it. Reading it is reading the state as it stands between main-queue
    // tasks, which is what a synchronous hop to the main queue would see,
    // without `output` ever waiting for the main queue. It holds the streams
    // too, so a callback can keep the stream it names alive while it hops:
    // identity comparisons on the main queue then cannot meet a new stream at
    // a dead one's address.
    struct DeliveryGate {
        StreamRef primary;
        std::vector<StreamRef> owned;  // every stream `owns` recognises
        std::uint64_t generation = 0;
        bool stamping = false;  // frames of `primary` may be published now
    };

    // Pixels and geometry read on `output`, carried to the main queue.
    struct Delivery {
        StreamRef stream;
        std::uint64_t stamp = 0;  // the generation the buffer was stamped with
        double observed = 0;
        std::optional<Rect> contentRect;
        std::optional<Rect> screenRect;
        double scale = 0;
        double contentScale = 0;
        std::optional<Image> image;
    };

    // Picker observer, stream delegate: any thread; they hop.
    void pickerDidUpdate(const ContentFilter& filter, CaptureStream* stream) override;
    void pickerDidCancel(CaptureStream* stream) override;
    void pickerStartDidFail(const PlatformError& error) override;
    void didStopWithError(CaptureStream& stream, const PlatformError& error) override;
    // Stream output: on `output`.
    void didOutputSampleBuffer(CaptureStream& stream, const SampleBuffer& buffer) override;

    // Main queue.
    void pickerUpdated(const ContentFilter& filter, bool streamGiven, const StreamRef& stream);
    void pickerCancelled(bool streamGiven, const StreamRef& stream);
    void pickerFailed(const PlatformError& error);
    void streamStopped(const StreamRef& stream, const PlatformError& error);
    void sleepHandler();
    void wakeHandler();
    void startPrimary(ContentFilter filter);
    void begin(StreamRef started);
    void startCompleted(const StreamRef& started, std::uint64_t token, const std::optional<PlatformError>& error);
    void scheduleRecovery();
    void recoveryTick(std::uint64_t token);
    void replaceTransport(std::string_view reason);
    void transportStopped(const StreamRef& old, std::uint64_t token, const std::optional<PlatformError>& error);
    void transportStopTimedOut(const StreamRef& old, std::uint64_t token);
    void fail(const PlatformError& error);
    void retire(StreamRef old);
    // The chosen display still has the bounds and identity it had when chosen.
    bool selectionStillMatches();
    bool loginSessionAvailable();
    void publishFrame(const Delivery& delivery);
    void publishIdle(const Delivery& delivery);
    void interrupt(const Delivery& delivery);
    void markReady();
    void finishDelivery();

    void transition(const std::string& newState);
    void record(std::string_view event);
    bool owns(const CaptureStream* candidate) const;
    // A stream the session owns, from the gate; any thread.
    StreamRef ownedStream(const CaptureStream* candidate) const;
    void publishGate();
    // Republishes the gate when a main-queue entry point returns, however it
    // returns.
    struct GatePublisher {
        SelectedCaptureSession& session;
        ~GatePublisher() { session.publishGate(); }
    };
    // Runs `task` on the main queue while the session lives, then republishes
    // the gate.
    void onMain(Task task);
    void onMainAfter(double seconds, Task task);

    Platform& platform_;
    Runtime& runtime_;
    const std::shared_ptr<MainQueueHop> hop_;
    // Storage for intake's copies of frames, kept while a display is selected
    // (see publishGate) and freed once the selection ends.
    const std::shared_ptr<PixelPool> frameCopies_;
    DeliveryGate gate_;  // guarded by `deliveryLock`
};

}  // namespace scene
