// The snapshot line: 27 keys, written in sorted order by the JSON object type.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "core/item_positioning.h"
#include "core/scene_sampler.h"
#include "core/snapshot_text.h"
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

// Writes a word into the snapshot's node only when it changed: assigning a
// string builds a new one on the heap, and most words stay the same for long.
void putString(Json& slot, std::string_view value) {
    if (slot.is_string() && slot.get_ref<const std::string&>() == value) return;
    slot = value;
}

// Copies records into the snapshot's node only when they differ from what it
// holds: comparing costs less than copying and freeing them every pass.
void putRecords(Json& slot, const Records& records) {
    if (slot.is_array() && slot.size() == records.size() &&
        std::equal(records.begin(), records.end(), slot.begin(), identicalJson)) {
        return;
    }
    slot = records;
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

    putString(snapshot["status"], kReadyStatus);
    snapshot["notificationBackdropsIgnored"] = pass.notificationBackdropsIgnored;
    snapshot["sessionSafe"] = pass.sessionSafe;
    putString(snapshot["inputRevision"], revision);
    snapshot["commandKey"] = (modifierFlags & kCommandFlag) != 0;
    snapshot["controls"] = pass.transitioning ? Records{} : positioned(state.controls, pass.records);
    snapshot["inputs"] = pass.transitioning ? Records{} : positioned(state.inputControls, pass.records);
    putString(snapshot["accessibility"], state.controlsStatus);
    putRecords(snapshot["docks"], dockSampler.items);
    putString(snapshot["dockStatus"], dockSampler.status);
    putString(snapshot["captureAccess"], capture.status());
    putString(snapshot["captureMode"], capture.selectedAvailable ? kSelectedSessionMode : kLegacyMode);

    Json& captureMetrics = snapshot["captureMetrics"];
    captureMetrics["directPixelRequests"] = capture.directPixelRequests;
    if (selectedCaptureSupported_) {
        putString(snapshot["captureSession"], session.displayState());
        snapshot["captureConsentID"] = session.consents;
        const auto display = session.displayID();
        snapshot["captureSelectedDisplay"] = display ? Json(*display) : Json(nullptr);
        session.writeMetrics(captureMetrics);
    } else {
        putString(snapshot["captureSession"], kUnsupportedOS);
        snapshot["captureConsentID"] = std::uint64_t{0};
        snapshot["captureSelectedDisplay"] = nullptr;
    }
    putString(snapshot["capturePauseReason"], capture.circuit.reason.value_or(""));

    // One look at the store serves both the proofs and their count.
    Records proofs = selectedSupports.fresh();
    const auto proofCount = static_cast<std::int64_t>(proofs.size());
    snapshot["supportProofs"] = capture.available() ? std::move(proofs) : Records{};
    putString(snapshot["supportVerification"],
              capture.selectedAvailable ? selectedSupports.status : supportSampler.status);

    Json& supportMetrics = snapshot["supportMetrics"];
    supportMetrics["captureMS"] = supportSampler.captureMS;
    supportMetrics["analysisMS"] = supportSampler.analysisMS;
    supportMetrics["topCaptureMS"] = topSampler.captureMS;
    supportMetrics["topTargets"] = topSampler.targetCount;
    putString(supportMetrics["topStatus"], topSampler.status);
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
    putString(supportMetrics["dockReadStatus"], topSampler.dockReadStatus);
    supportMetrics["dockReadAgeMS"] = ageMS(now, topSampler.dockReadAt);
    supportMetrics["dockReadMS"] = topSampler.dockReadMS;
    supportMetrics["dockFailures"] = topSampler.dockFailures;

    snapshot["visuals"] = pass.transitioning ? Records{} : positioned(visualSampler.latest, pass.records);
    putString(snapshot["vision"], visualSampler.status);
    snapshot["visualAgeMS"] = ageMS(now, visualSampler.latestAt);
    snapshot["visualTimestamp"] = visualSampler.latestAt;

    Json& visualMetrics = snapshot["visualMetrics"];
    visualMetrics["analysisMS"] = visualSampler.analysisMS;
    visualMetrics["captureMS"] = visualSampler.captureMS;
    putString(visualMetrics["status"], visualSampler.status);
    visualMetrics["edges"] = static_cast<std::int64_t>(visualSampler.latest.size());
    std::int64_t platforms = 0;
    for (const Json& record : visualSampler.latest) platforms += isPlatformEdge(record) ? 1 : 0;
    visualMetrics["platforms"] = platforms;
    // Last, because controls, inputs and visuals were positioned against it.
    // During a Space change the snapshot shows no windows, so it no longer
    // keeps the records for the next pass.
    if (pass.spaceTransitioning) recordsSource_.reset();
    snapshot["windows"] = pass.spaceTransitioning ? Records{} : std::move(pass.records);
    return snapshot;
}

}  // namespace scene
