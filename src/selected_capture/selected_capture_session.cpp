#include "selected_capture/selected_capture_session.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "platform/deployment.h"
#include "platform/json_object.h"
#include "selected_capture/selected_rect_metrics.h"
#include "selected_capture/selected_region_crop.h"
#include "selected_capture/selected_stream_configuration.h"

namespace scene {
namespace {

constexpr std::string_view kOutputQueueLabel = "selected-capture.output";

// Event record keys.
constexpr const char* kAtKey = "at";
constexpr const char* kUptimeKey = "uptime";
constexpr const char* kEventKey = "event";
constexpr const char* kStateKey = "state";
constexpr const char* kGenerationKey = "generation";
constexpr const char* kConsentKey = "consent";
constexpr const char* kStartsKey = "starts";
constexpr const char* kFramesKey = "frames";
constexpr const char* kErrorCodeKey = "errorCode";

// Metrics keys not shared with the event record.
constexpr const char* kConsentsKey = "consents";
constexpr const char* kFreshKey = "fresh";
constexpr const char* kFrameAgeKey = "frameAgeMS";
constexpr const char* kActiveStreamsKey = "activeStreams";
constexpr const char* kTransportRetiringKey = "transportRetiring";
constexpr const char* kStreamCreationsKey = "streamCreations";
constexpr const char* kGlobalMetadataRequestsKey = "globalMetadataRequests";
constexpr const char* kSecondaryStreamsKey = "secondaryStreams";
constexpr const char* kRecoveryAttemptsKey = "recoveryAttempts";
constexpr const char* kRecoveriesKey = "recoveries";
constexpr const char* kDisplaySleepingKey = "displaySleeping";
constexpr const char* kTransportReplacementsKey = "transportReplacements";
constexpr const char* kStartCompletionsKey = "startCompletions";
constexpr const char* kRawBuffersKey = "rawBuffers";
constexpr const char* kAgeRejectedBuffersKey = "ageRejectedBuffers";
constexpr const char* kBufferStatusesKey = "bufferStatuses";
constexpr const char* kRecoveryReasonKey = "recoveryReason";
constexpr const char* kEventsKey = "events";
constexpr const char* kSourceUnavailableKey = "sourceUnavailable";
constexpr const char* kSelectedDisplayKey = "selectedDisplay";
constexpr const char* kSelectedWidthKey = "selectedWidth";
constexpr const char* kSelectedHeightKey = "selectedHeight";
constexpr const char* kFilterRectKey = "filterRect";
constexpr const char* kFrameContentRectKey = "frameContentRect";
constexpr const char* kFrameScreenRectKey = "frameScreenRect";
constexpr const char* kFrameScaleKey = "frameScale";
constexpr const char* kFrameContentScaleKey = "frameContentScale";
constexpr const char* kFrameCopyFailuresKey = "frameCopyFailures";

// ISO 8601 internet date-time in UTC, whole seconds (the fraction is dropped,
// not rounded, so an event never appears to come from the next second).
std::string internetDateTime(double wallSeconds) {
    const double whole = std::isfinite(wallSeconds) ? std::floor(wallSeconds) : 0.0;
    const std::time_t seconds = static_cast<std::time_t>(whole);
    std::tm parts{};
    if (gmtime_r(&seconds, &parts) == nullptr) return {};
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return std::string(text, length);
}

Json optionalJson(const std::optional<std::int64_t>& value) { return value ? Json(*value) : Json(nullptr); }

}  // namespace

SelectedCaptureSession::SelectedCaptureSession(Platform& platform, Runtime& runtime)
    : output(runtime.makeSerialQueue(kOutputQueueLabel)),
      platform_(platform),
      runtime_(runtime),
      hop_(std::make_shared<MainQueueHop>(runtime.mainQueue())),
      frameCopies_(std::make_shared<PixelPool>(0)) {}

SelectedCaptureSession::~SelectedCaptureSession() {
    // Nothing posted on the session's behalf runs from here on, and no thread
    // is still posting.
    hop_->close();

    std::vector<StreamRef> streams;
    const auto collect = [&streams](const StreamRef& candidate) {
        if (candidate && std::find(streams.begin(), streams.end(), candidate) == streams.end())
            streams.push_back(candidate);
    };
    collect(stream);
    collect(suspendedStream);
    collect(retiringStream);
    for (const auto& retired : retiredStreams) collect(retired);
    for (const auto& old : streams) old->stopCapture([](std::optional<PlatformError>) {});

    if (installed) {
        platform_.screenCapture().sharedPicker().removeObserver(*this);
        for (const ObserverToken token : workspaceObservers) platform_.workspace().removeObserver(token);
    }

    // Joins whatever intake is running; later deliveries are dropped.
    output.reset();
}

void SelectedCaptureSession::onMain(Task task) {
    hop_->post([this, task = std::move(task)] {
        task();
        publishGate();
    });
}

void SelectedCaptureSession::onMainAfter(double seconds, Task task) {
    hop_->postAfter(seconds, [this, task = std::move(task)] {
        task();
        publishGate();
    });
}

void SelectedCaptureSession::publishGate() {
    const bool stamping = stream && !paused && !presenting && !displaySleeping && !sourceUnavailable;
    // The copies follow the selection, not the stamp. Through a pause, sleep
    // or a stream's replacement they wait for the frames that follow (never
    // more than steady capture holds), so a stream that starts again copies
    // into resident storage: fresh storage faults in slowly enough for the
    // stream's next frame to need storage of its own. An ended selection may
    // not be followed by another for hours, and its copies go.
    frameCopies_->setKeep(selectedFilter ? kKeptFrameCopies : 0);
    const std::lock_guard<std::mutex> lock(deliveryLock);
    gate_.primary = stream;
    gate_.owned.clear();
    for (const StreamRef* candidate : {&stream, &suspendedStream, &retiringStream})
        if (*candidate) gate_.owned.push_back(*candidate);
    gate_.owned.insert(gate_.owned.end(), retiredStreams.begin(), retiredStreams.end());
    gate_.generation = generation;
    gate_.stamping = stamping;
}

SelectedCaptureSession::StreamRef SelectedCaptureSession::ownedStream(const CaptureStream* candidate) const {
    if (candidate == nullptr) return nullptr;
    const std::lock_guard<std::mutex> lock(deliveryLock);
    for (const auto& owned : gate_.owned)
        if (owned.get() == candidate) return owned;
    return nullptr;
}

void SelectedCaptureSession::select() {
    const GatePublisher publish{*this};
    if (presenting) return;
    ContentSharingPicker& picker = platform_.screenCapture().sharedPicker();
    if (!installed) {
        picker.addObserver(*this);
        Workspace& workspace = platform_.workspace();
        // Neither the companion nor the agent service may be offered, nor this
        // process, whose bundle is the companion's when it has none of its own.
        std::string own(deployment::kCompanionBundleID);
        if (const auto self = workspace.runningApplication(workspace.processIdentifier()))
            if (self->bundleIdentifier) own = *self->bundleIdentifier;
        PickerConfiguration configuration;
        configuration.singleDisplayOnly = true;
        configuration.allowsChangingSelectedContent = true;
        for (const std::string_view id :
             {deployment::kCompanionBundleID, deployment::kAgentServiceBundleID, std::string_view(own)}) {
            auto& excluded = configuration.excludedBundleIDs;
            if (std::find(excluded.begin(), excluded.end(), id) == excluded.end()) excluded.emplace_back(id);
        }
        picker.setConfiguration(configuration);
        installed = true;

        // Handlers run on the main queue; the hop's flag covers a notification
        // already on its way while the session goes.
        const auto handle = [this, hop = hop_](void (SelectedCaptureSession::*handler)()) {
            return [this, hop, handler](const WorkspaceEvent&) {
                if (!hop->isOpen()) return;
                (this->*handler)();
                publishGate();
            };
        };
        for (const auto name : {WorkspaceNotification::screensDidSleep, WorkspaceNotification::willSleep})
            workspaceObservers.push_back(workspace.addObserver(name, handle(&SelectedCaptureSession::sleepHandler)));
        for (const auto name : {WorkspaceNotification::screensDidWake, WorkspaceNotification::didWake})
            workspaceObservers.push_back(workspace.addObserver(name, handle(&SelectedCaptureSession::wakeHandler)));
    }

    presenting = true;
    transition(std::string(selected_words::kSelecting));
    picker.setActive(true);
    // Presented for the stream we have, the user may change its content.
    const StreamRef& presented = stream ? stream : suspendedStream ? suspendedStream : retiringStream;
    if (presented) {
        picker.presentForStream(*presented);
    } else {
        picker.presentForDisplayContent();
    }
}

void SelectedCaptureSession::pickerDidUpdate(const ContentFilter& filter, CaptureStream* given) {
    onMain([this, filter, streamGiven = given != nullptr, held = ownedStream(given)] {
        pickerUpdated(filter, streamGiven, held);
    });
}

void SelectedCaptureSession::pickerDidCancel(CaptureStream* given) {
    onMain([this, streamGiven = given != nullptr, held = ownedStream(given)] { pickerCancelled(streamGiven, held); });
}

void SelectedCaptureSession::pickerStartDidFail(const PlatformError& error) {
    onMain([this, error] { pickerFailed(error); });
}

void SelectedCaptureSession::pickerUpdated(const ContentFilter& filter, bool streamGiven, const StreamRef& given) {
    if (!presenting && !streamGiven) return;
    // A stream we no longer held when the answer came is not ours.
    if (streamGiven && !(given && owns(given.get()))) return;
    const std::string unsupported(selected_words::kUnsupportedSelection);
    if (filter.style != ContentFilter::Style::display) {
        stop(unsupported);
        return;
    }

    WindowServer& windowServer = platform_.windowServer();
    Workspace& workspace = platform_.workspace();
    DisplayID display = 0;
    if (workspace.systemVersion().atLeast(15, 2)) {
        if (filter.includedDisplays.size() != 1) {
            stop(unsupported);
            return;
        }
        display = filter.includedDisplays.front();
    } else {
        // Older pickers name no display: find the one screen the filter covers.
        // Mirrored displays share their bounds and cannot be told apart.
        std::vector<DisplayID> matching;
        for (const Screen& screen : workspace.screens())
            if (screen.number && windowServer.displayBounds(*screen.number) == filter.contentRect)
                matching.push_back(*screen.number);
        if (matching.size() != 1) {
            stop(unsupported);
            return;
        }
        display = matching.front();
    }
    std::optional<std::string> uuid;
    if (windowServer.displayIsActive(display)) uuid = windowServer.displayUUID(display);
    if (!uuid) {
        stop(unsupported);
        return;
    }

    stop(std::string(selected_words::kStarting));
    selectedDisplay = display;
    selectedDisplayUUID = std::move(uuid);
    bounds = windowServer.displayBounds(display);
    selectedFilter = filter;
    ++consents;
    health.attempts = 0;
    lastErrorCode.reset();
    recoveryReason.reset();
    displaySleeping = windowServer.displayIsAsleep(display);
    startPrimary(filter);
}

void SelectedCaptureSession::pickerCancelled(bool streamGiven, const StreamRef& given) {
    if (streamGiven && !(given && owns(given.get()))) return;
    if (!presenting) return;
    presenting = false;
    if (stream) {
        transition(std::string(selected_words::kStarting));
    } else if (selectedFilter) {
        transition(std::string(selected_words::kInterrupted));
    } else {
        transition(std::string(selected_words::kSelectionRequired));
    }
    scheduleRecovery();
}

void SelectedCaptureSession::pickerFailed(const PlatformError& error) {
    if (!presenting) return;
    presenting = false;
    lastErrorCode = error.code;
    transition(std::string(stream ? selected_words::kStarting : selected_words::kFailed));
}

void SelectedCaptureSession::startPrimary(ContentFilter filter) {
    primaryStartedAt = runtime_.clock().uptime();
    const StreamConfiguration configuration = selectedStreamConfiguration(bounds);
    StreamRef created = platform_.screenCapture().createStream(filter, configuration, *this);
    if (!created) {
        // A service that hands out no stream has no error code to give either.
        stop(std::string(selected_words::kFailed));
        return;
    }
    ++streamCreations;
    if (const auto error = created->addStreamOutput(*this, *output)) {
        lastErrorCode = error->code;
        stop(std::string(selected_words::kFailed));
        return;
    }
    begin(std::move(created));
}

void SelectedCaptureSession::begin(StreamRef started) {
    const double now = runtime_.clock().uptime();
    primaryStartedAt = now;
    health.begin(now);
    stream = started;
    suspendedStream.reset();
    ++starts;
    const std::uint64_t token = recoveryToken;
    record(selected_words::kStartRequest);
    // Frames may arrive before this step ends.
    publishGate();
    // Held weakly: a stream that keeps its completion must not keep itself.
    started->startCapture(
        [this, hop = hop_, weak = std::weak_ptr<CaptureStream>(started), token](std::optional<PlatformError> error) {
            hop->post([this, weak, token, error = std::move(error)] {
                startCompleted(weak.lock(), token, error);
                publishGate();
            });
        });
}

void SelectedCaptureSession::startCompleted(const StreamRef& started, std::uint64_t token,
                                            const std::optional<PlatformError>& error) {
    if (!started || started != stream || token != recoveryToken) return;
    ++startCompletions;
    if (error) {
        record(selected_words::kStartError);
        fail(*error);
    } else {
        record(selected_words::kStartCompleted);
    }
}

void SelectedCaptureSession::sleepHandler() {
    displaySleeping = true;
    retained.reset();
    if (selectedFilter) transition(std::string(selected_words::kInterrupted));
}

void SelectedCaptureSession::wakeHandler() {
    displaySleeping = false;
    health.begin(runtime_.clock().uptime());
    scheduleRecovery();
}

void SelectedCaptureSession::transition(const std::string& newState) {
    ++generation;
    latest.reset();
    state = newState;
    record(newState);
    if (onTransition) onTransition();
}

void SelectedCaptureSession::record(std::string_view event) {
    const Clock& clock = runtime_.clock();
    events.push_back(Json{
        {kAtKey, internetDateTime(clock.wallSeconds())},
        {kUptimeKey, clock.uptime()},
        {kEventKey, event},
        {kStateKey, state},
        {kGenerationKey, generation},
        {kConsentKey, consents},
        {kStartsKey, starts},
        {kFramesKey, frames},
        {kErrorCodeKey, optionalJson(lastErrorCode)},
    });
    if (events.size() > kEventLimit)
        events.erase(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(events.size() - kEventLimit));
}

bool SelectedCaptureSession::owns(const CaptureStream* candidate) const {
    if (candidate == nullptr) return false;
    if (candidate == stream.get() || candidate == suspendedStream.get() || candidate == retiringStream.get())
        return true;
    return std::any_of(retiredStreams.begin(), retiredStreams.end(),
                       [candidate](const auto& retired) { return retired.get() == candidate; });
}

void SelectedCaptureSession::stop(std::string reason) {
    const GatePublisher publish{*this};
    std::vector<std::shared_ptr<CaptureStream>> stopping;
    const auto collect = [&stopping](std::shared_ptr<CaptureStream> candidate) {
        if (candidate && std::find(stopping.begin(), stopping.end(), candidate) == stopping.end())
            stopping.push_back(std::move(candidate));
    };
    collect(std::exchange(stream, nullptr));
    collect(std::exchange(suspendedStream, nullptr));
    collect(std::exchange(retiringStream, nullptr));
    for (auto& retired : retiredStreams) collect(std::move(retired));
    retiredStreams.clear();

    replacementPending = false;
    selectedDisplay.reset();
    selectedDisplayUUID.reset();
    sourceUnavailable = false;
    selectedFilter.reset();
    presenting = false;
    retained.reset();

    // Every delayed step and late completion of the old selection is now stale.
    ++recoveryToken;
    recoveryScheduled = false;

    transition(reason);

    // The outcome no longer matters: the selection these streams served is over.
    for (const auto& old : stopping) old->stopCapture([](std::optional<PlatformError>) {});
}

void SelectedCaptureSession::setPaused(bool newValue) {
    if (newValue == paused) return;
    const GatePublisher publish{*this};
    paused = newValue;
    if (!selectedFilter) return;
    if (paused) retained.reset();
    // The stall clock must count from when frames can flow again.
    health.begin(runtime_.clock().uptime());
    if (paused) {
        transition(std::string(selected_words::kInterrupted));
        return;
    }
    transition(std::string(stream ? selected_words::kStarting : selected_words::kInterrupted));
    scheduleRecovery();
}

std::optional<SelectedCaptureSession::Frame> SelectedCaptureSession::current(double now) const {
    if (displaySleeping || sourceUnavailable) return std::nullopt;
    if (state != selected_words::kReady) return std::nullopt;
    if (!selectedDisplay) return std::nullopt;
    // The frame is only worth anything while it still shows the display that
    // was chosen, where it was chosen.
    WindowServer& windowServer = platform_.windowServer();
    if (!windowServer.displayIsActive(*selectedDisplay)) return std::nullopt;
    if (!(windowServer.displayBounds(*selectedDisplay) == bounds)) return std::nullopt;
    if (windowServer.displayUUID(*selectedDisplay) != selectedDisplayUUID) return std::nullopt;
    if (!latest) return std::nullopt;
    if (!selectedFrameIsFresh(latest->observed, latest->generation, generation, now, paused, presenting))
        return std::nullopt;
    return latest;
}

std::optional<SelectedCaptureSession::Frame> SelectedCaptureSession::current() const {
    return current(runtime_.clock().uptime());
}

std::optional<std::pair<Image, double>> SelectedCaptureSession::crop(const Rect& region, int width, int height) const {
    const auto frame = current();
    if (!frame) return std::nullopt;
    auto image = selectedRegionCrop(frame->image, frame->bounds, region, width, height);
    if (!image) return std::nullopt;
    return std::make_pair(std::move(*image), frame->observed);
}

std::string SelectedCaptureSession::displayState() const {
    if (state == selected_words::kReady && !current()) return std::string(selected_words::kStale);
    return state;
}

Json SelectedCaptureSession::metrics() const {
    Json metrics = Json::object();
    writeMetrics(metrics);
    return metrics;
}

void SelectedCaptureSession::writeMetrics(Json& metrics) const {
    std::uint64_t raw = 0;
    std::uint64_t ageRejected = 0;
    Json bufferStatuses = Json::object();
    {
        const std::lock_guard<std::mutex> lock(deliveryLock);
        raw = rawBuffers;
        ageRejected = ageRejectedBuffers;
        for (const auto& [status, count] : statuses) bufferStatuses[std::to_string(status)] = count;
    }

    const double now = runtime_.clock().uptime();
    Json frameAge = nullptr;
    if (latest) {
        const double age = (now - latest->observed) * 1000;
        frameAge = age > 0 ? age : 0.0;  // also 0 for an age that is not a number
    }
    const std::optional<Rect> filterRect =
        selectedFilter ? std::optional<Rect>(selectedFilter->contentRect) : std::nullopt;

    // In key order, so that each member is found without a lookup.
    SortedMembers members(metrics);
    members[kActiveStreamsKey] = (stream || retiringStream) ? 1 : 0;
    members[kAgeRejectedBuffersKey] = ageRejected;
    members[kBufferStatusesKey] = std::move(bufferStatuses);
    members[kConsentsKey] = consents;
    members[kDisplaySleepingKey] = displaySleeping;
    members[kErrorCodeKey] = optionalJson(lastErrorCode);
    // Up to 64 records of nine entries: copied only when the log has moved on
    // since `into` last received it. Recorded events never change, so equal
    // means the same events.
    Json& eventLog = members[kEventsKey];
    if (!eventLog.is_array() || eventLog.get_ref<const Json::array_t&>() != events) eventLog = Json(events);
    members[kFilterRectKey] = selectedRectMetrics(filterRect);
    members[kFrameAgeKey] = frameAge;
    members[kFrameContentRectKey] = selectedRectMetrics(frameContentRect);
    members[kFrameContentScaleKey] = frameContentScale;
    members[kFrameCopyFailuresKey] = frameCopyFailures;
    members[kFrameScaleKey] = frameScale;
    members[kFrameScreenRectKey] = selectedRectMetrics(frameScreenRect);
    members[kFramesKey] = frames;
    members[kFreshKey] = current(now).has_value();
    members[kGenerationKey] = generation;
    // Kept for the companion, which still reads them; this design has neither.
    members[kGlobalMetadataRequestsKey] = 0;
    members[kRawBuffersKey] = raw;
    members[kRecoveriesKey] = totalRecoveries;
    members[kRecoveryAttemptsKey] = health.attempts;
    members[kRecoveryReasonKey] = recoveryReason ? Json(*recoveryReason) : Json(nullptr);
    members[kSecondaryStreamsKey] = 0;
    members[kSelectedDisplayKey] = selectedDisplay ? Json(*selectedDisplay) : Json(nullptr);
    members[kSelectedHeightKey] = bounds.absHeight();
    members[kSelectedWidthKey] = bounds.absWidth();
    members[kSourceUnavailableKey] = sourceUnavailable;
    members[kStartCompletionsKey] = startCompletions;
    members[kStartsKey] = starts;
    members[kStateKey] = displayState();
    members[kStreamCreationsKey] = streamCreations;
    members[kTransportReplacementsKey] = transportReplacements;
    members[kTransportRetiringKey] = retiringStream != nullptr;
}

}  // namespace scene
