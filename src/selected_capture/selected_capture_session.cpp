#include "selected_capture/selected_capture_session.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "selected_capture/selected_rect_metrics.h"
#include "selected_capture/selected_region_crop.h"

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
    : output(runtime.makeSerialQueue(kOutputQueueLabel)), platform_(platform), runtime_(runtime) {}

void SelectedCaptureSession::select() {
    // Built by the selected-capture issue.
}

void SelectedCaptureSession::checkDisplay() {
    // Built by the recovery issue.
}

void SelectedCaptureSession::scheduleRecovery() {
    // Placeholder: the recovery issue schedules the two-second recovery tick here.
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

std::optional<std::pair<Image, double>> SelectedCaptureSession::crop(const Rect& region, int width,
                                                                     int height) const {
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

    Json metrics = Json::object();
    metrics[kFramesKey] = frames;
    metrics[kStartsKey] = starts;
    metrics[kConsentsKey] = consents;
    metrics[kGenerationKey] = generation;
    metrics[kStateKey] = displayState();
    metrics[kFreshKey] = current(now).has_value();
    metrics[kFrameAgeKey] = frameAge;
    metrics[kActiveStreamsKey] = (stream || retiringStream) ? 1 : 0;
    metrics[kTransportRetiringKey] = retiringStream != nullptr;
    metrics[kStreamCreationsKey] = streamCreations;
    // Kept for the companion, which still reads them; this design has neither.
    metrics[kGlobalMetadataRequestsKey] = 0;
    metrics[kSecondaryStreamsKey] = 0;
    metrics[kRecoveryAttemptsKey] = health.attempts;
    metrics[kRecoveriesKey] = totalRecoveries;
    metrics[kDisplaySleepingKey] = displaySleeping;
    metrics[kTransportReplacementsKey] = transportReplacements;
    metrics[kStartCompletionsKey] = startCompletions;
    metrics[kRawBuffersKey] = raw;
    metrics[kAgeRejectedBuffersKey] = ageRejected;
    metrics[kBufferStatusesKey] = std::move(bufferStatuses);
    metrics[kRecoveryReasonKey] = recoveryReason ? Json(*recoveryReason) : Json(nullptr);
    metrics[kEventsKey] = Json(events);
    metrics[kSourceUnavailableKey] = sourceUnavailable;
    metrics[kSelectedDisplayKey] = selectedDisplay ? Json(*selectedDisplay) : Json(nullptr);
    metrics[kSelectedWidthKey] = bounds.absWidth();
    metrics[kSelectedHeightKey] = bounds.absHeight();
    metrics[kFilterRectKey] = selectedRectMetrics(filterRect);
    metrics[kFrameContentRectKey] = selectedRectMetrics(frameContentRect);
    metrics[kFrameScreenRectKey] = selectedRectMetrics(frameScreenRect);
    metrics[kFrameScaleKey] = frameScale;
    metrics[kFrameContentScaleKey] = frameContentScale;
    metrics[kFrameCopyFailuresKey] = frameCopyFailures;
    metrics[kErrorCodeKey] = optionalJson(lastErrorCode);
    return metrics;
}

}  // namespace scene
