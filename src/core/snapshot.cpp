// The snapshot line: 27 keys, written in sorted order by the JSON object type.
#include <cmath>
#include <string>

#include "core/item_positioning.h"
#include "core/scene_sampler.h"
#include "platform/json_read.h"

namespace scene {
namespace {

constexpr std::uint64_t kCommandFlag = 0x100000;
constexpr InputEventType kRevisionEvents[] = {
    InputEventType::leftMouseDown, InputEventType::rightMouseDown, InputEventType::otherMouseDown,
    InputEventType::scrollWheel,   InputEventType::keyDown,        InputEventType::mouseMoved,
};
constexpr const char* kReadyStatus = "ready";
constexpr const char* kSelectedSessionMode = "selected-session";
constexpr const char* kLegacyMode = "legacy";
constexpr const char* kUnsupportedOS = "unsupported-os";

// Milliseconds since an uptime stamp; never negative, never NaN.
double ageMS(double now, double stamp) {
    const double age = (now - stamp) * 1000;
    return age > 0 ? age : 0;
}

std::string inputRevision(WindowServer& windowServer) {
    std::string revision;
    for (const InputEventType type : kRevisionEvents) {
        if (!revision.empty()) revision += ':';
        revision += std::to_string(windowServer.eventCounter(type));
    }
    return revision;
}

bool isPlatformEdge(const Json& record) {
    const Json* platform = json_read::member(record, "platform");
    return platform != nullptr && platform->is_boolean() && platform->get<bool>();
}

}  // namespace

// The snapshot object lives on between passes: every pass writes the same keys,
// so after the first one the assignments reuse the object's nodes instead of
// allocating them anew thirty times a second.
const Json& SceneSampler::composeSnapshot(PassValues& pass) {
    WindowServer& windowServer = platform_.windowServer();
    const double now = pass.now;

    Json& snapshot = snapshot_;
    Json& context = snapshot["context"];
    context["revision"] = state.revision;
    context["spaceRevision"] = state.spaceRevision;
    context["frontPID"] = state.frontPID;
    context["focusedWindowId"] = state.focusedID ? Json(*state.focusedID) : Json(nullptr);
    context["transitioning"] = pass.transitioning;
    context["spaceTransitioning"] = pass.spaceTransitioning;
    context["pendingSupportOwners"] = topSampler.pendingOwners;
    context["leftButtonDown"] = windowServer.leftButtonDown();

    const std::string revision = inputRevision(windowServer);
    const std::uint64_t modifierFlags = windowServer.modifierFlags();

    snapshot["status"] = kReadyStatus;
    snapshot["notificationBackdropsIgnored"] = pass.notificationBackdropsIgnored;
    snapshot["sessionSafe"] = pass.sessionSafe;
    snapshot["inputRevision"] = revision;
    snapshot["commandKey"] = (modifierFlags & kCommandFlag) != 0;
    snapshot["controls"] = pass.transitioning ? Records{} : positioned(state.controls, pass.records);
    snapshot["inputs"] = pass.transitioning ? Records{} : positioned(state.inputControls, pass.records);
    snapshot["accessibility"] = state.controlsStatus;
    snapshot["docks"] = dockSampler.items;
    snapshot["dockStatus"] = dockSampler.status;
    snapshot["captureAccess"] = capture.status();
    snapshot["captureMode"] = capture.selectedAvailable ? kSelectedSessionMode : kLegacyMode;

    Json& captureMetrics = snapshot["captureMetrics"];
    captureMetrics["directPixelRequests"] = capture.directPixelRequests;
    if (selectedCaptureSupported_) {
        snapshot["captureSession"] = session.displayState();
        snapshot["captureConsentID"] = session.consents;
        const auto display = session.displayID();
        snapshot["captureSelectedDisplay"] = display ? Json(*display) : Json(nullptr);
        // Moved in, not copied: the event log alone can hold 64 records.
        Json metrics = session.metrics();
        for (auto it = metrics.begin(); it != metrics.end(); ++it) captureMetrics[it.key()] = std::move(it.value());
    } else {
        snapshot["captureSession"] = kUnsupportedOS;
        snapshot["captureConsentID"] = std::uint64_t{0};
        snapshot["captureSelectedDisplay"] = nullptr;
    }
    snapshot["capturePauseReason"] = capture.circuit.reason.value_or("");

    // One look at the store serves both the proofs and their count.
    Records proofs = selectedSupports.fresh();
    const auto proofCount = static_cast<std::int64_t>(proofs.size());
    snapshot["supportProofs"] = capture.available() ? std::move(proofs) : Records{};
    snapshot["supportVerification"] = capture.selectedAvailable ? selectedSupports.status : supportSampler.status;

    Json& supportMetrics = snapshot["supportMetrics"];
    supportMetrics["captureMS"] = supportSampler.captureMS;
    supportMetrics["analysisMS"] = supportSampler.analysisMS;
    supportMetrics["topCaptureMS"] = topSampler.captureMS;
    supportMetrics["topTargets"] = topSampler.targetCount;
    supportMetrics["topStatus"] = topSampler.status;
    supportMetrics["selectedContourMS"] = selectedSupports.analysisMS;
    supportMetrics["selectedContourPixels"] = selectedSupports.grayPixels;
    supportMetrics["selectedContourRegions"] = selectedSupports.grayRegions;
    supportMetrics["selectedContourCandidates"] = selectedSupports.candidateCount;
    supportMetrics["selectedContourOwners"] = selectedSupports.pairedOwners;
    supportMetrics["selectedContourProofs"] = proofCount;
    supportMetrics["selectedRawRuns"] = selectedSupports.rawRuns;
    supportMetrics["selectedDockRawRuns"] = selectedSupports.dockRuns;
    supportMetrics["selectedDockTargets"] = static_cast<std::int64_t>(dockSampler.items.size());
    supportMetrics["grayPixels"] = supportSampler.grayPixels;
    supportMetrics["grayRegions"] = supportSampler.grayRegions;
    supportMetrics["candidates"] = supportSampler.candidateCount;
    supportMetrics["dockReadStatus"] = topSampler.dockReadStatus;
    supportMetrics["dockReadAgeMS"] = ageMS(now, topSampler.dockReadAt);
    supportMetrics["dockReadMS"] = topSampler.dockReadMS;
    supportMetrics["dockFailures"] = topSampler.dockFailures;

    snapshot["visuals"] = pass.transitioning ? Records{} : positioned(visualSampler.latest, pass.records);
    snapshot["vision"] = visualSampler.status;
    snapshot["visualAgeMS"] = ageMS(now, visualSampler.latestAt);
    snapshot["visualTimestamp"] = visualSampler.latestAt;

    Json& visualMetrics = snapshot["visualMetrics"];
    visualMetrics["analysisMS"] = visualSampler.analysisMS;
    visualMetrics["captureMS"] = visualSampler.captureMS;
    visualMetrics["status"] = visualSampler.status;
    visualMetrics["edges"] = static_cast<std::int64_t>(visualSampler.latest.size());
    std::int64_t platforms = 0;
    for (const Json& record : visualSampler.latest) platforms += isPlatformEdge(record) ? 1 : 0;
    visualMetrics["platforms"] = platforms;
    // Last, because controls, inputs and visuals were positioned against it.
    snapshot["windows"] = pass.spaceTransitioning ? Records{} : std::move(pass.records);
    return snapshot;
}

}  // namespace scene
