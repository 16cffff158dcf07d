// The snapshot line: 27 keys, written in sorted order by the JSON object type.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "core/item_positioning.h"
#include "core/scene_sampler.h"
#include "core/snapshot_text.h"
#include "platform/json_object.h"
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
// allocating them anew thirty times a second. Each object's members are
// written in key order, which lets SortedMembers find each one without a
// lookup.
const Json& SceneSampler::composeSnapshot(PassValues& pass) {
    WindowServer& windowServer = platform_.windowServer();
    const double now = pass.now;
    const std::string revision = inputRevision(windowServer);
    const std::uint64_t modifierFlags = windowServer.modifierFlags();
    // One look at the store serves both the proofs and their count.
    Records proofs = selectedSupports.fresh();
    const auto proofCount = static_cast<std::int64_t>(proofs.size());

    SortedMembers snapshot(snapshot_);
    putString(snapshot["accessibility"], state.controlsStatus);
    putString(snapshot["captureAccess"], capture.status());
    Json& consent = snapshot["captureConsentID"];
    Json& captureMetrics = snapshot["captureMetrics"];
    memberSlot(captureMetrics, "directPixelRequests") = capture.directPixelRequests;
    putString(snapshot["captureMode"], capture.selectedAvailable ? kSelectedSessionMode : kLegacyMode);
    putString(snapshot["capturePauseReason"], capture.circuit.reason.value_or(""));
    Json& selectedDisplay = snapshot["captureSelectedDisplay"];
    Json& captureSession = snapshot["captureSession"];
    if (selectedCaptureSupported_) {
        putString(captureSession, session.displayState());
        consent = session.consents;
        const auto display = session.displayID();
        selectedDisplay = display ? Json(*display) : Json(nullptr);
        session.writeMetrics(captureMetrics);
    } else {
        putString(captureSession, kUnsupportedOS);
        consent = std::uint64_t{0};
        selectedDisplay = nullptr;
    }
    snapshot["commandKey"] = (modifierFlags & kCommandFlag) != 0;

    SortedMembers context(snapshot["context"]);
    context["focusedWindowId"] = state.focusedID ? Json(*state.focusedID) : Json(nullptr);
    context["frontPID"] = state.frontPID;
    context["leftButtonDown"] = windowServer.leftButtonDown();
    context["pendingSupportOwners"] = topSampler.pendingOwners;
    context["revision"] = state.revision;
    context["spaceRevision"] = state.spaceRevision;
    context["spaceTransitioning"] = pass.spaceTransitioning;
    context["transitioning"] = pass.transitioning;

    snapshot["controls"] = pass.transitioning ? Records{} : positioned(state.controls, pass.records);
    putString(snapshot["dockStatus"], dockSampler.status);
    putRecords(snapshot["docks"], dockSampler.items);
    putString(snapshot["inputRevision"], revision);
    snapshot["inputs"] = pass.transitioning ? Records{} : positioned(state.inputControls, pass.records);
    snapshot["notificationBackdropsIgnored"] = pass.notificationBackdropsIgnored;
    snapshot["sessionSafe"] = pass.sessionSafe;
    putString(snapshot["status"], kReadyStatus);

    SortedMembers supportMetrics(snapshot["supportMetrics"]);
    supportMetrics["analysisMS"] = supportSampler.analysisMS;
    supportMetrics["candidates"] = supportSampler.candidateCount;
    supportMetrics["captureMS"] = supportSampler.captureMS;
    supportMetrics["dockFailures"] = topSampler.dockFailures;
    supportMetrics["dockReadAgeMS"] = ageMS(now, topSampler.dockReadAt);
    supportMetrics["dockReadMS"] = topSampler.dockReadMS;
    putString(supportMetrics["dockReadStatus"], topSampler.dockReadStatus);
    supportMetrics["grayPixels"] = supportSampler.grayPixels;
    supportMetrics["grayRegions"] = supportSampler.grayRegions;
    supportMetrics["selectedContourCandidates"] = selectedSupports.candidateCount;
    supportMetrics["selectedContourMS"] = selectedSupports.analysisMS;
    supportMetrics["selectedContourOwners"] = selectedSupports.pairedOwners;
    supportMetrics["selectedContourPixels"] = selectedSupports.grayPixels;
    supportMetrics["selectedContourProofs"] = proofCount;
    supportMetrics["selectedContourRegions"] = selectedSupports.grayRegions;
    supportMetrics["selectedDockRawRuns"] = selectedSupports.dockRuns;
    supportMetrics["selectedDockTargets"] = static_cast<std::int64_t>(dockSampler.items.size());
    supportMetrics["selectedRawRuns"] = selectedSupports.rawRuns;
    supportMetrics["topCaptureMS"] = topSampler.captureMS;
    putString(supportMetrics["topStatus"], topSampler.status);
    supportMetrics["topTargets"] = topSampler.targetCount;

    snapshot["supportProofs"] = capture.available() ? std::move(proofs) : Records{};
    putString(snapshot["supportVerification"],
              capture.selectedAvailable ? selectedSupports.status : supportSampler.status);
    putString(snapshot["vision"], visualSampler.status);
    snapshot["visualAgeMS"] = ageMS(now, visualSampler.latestAt);

    SortedMembers visualMetrics(snapshot["visualMetrics"]);
    visualMetrics["analysisMS"] = visualSampler.analysisMS;
    visualMetrics["captureMS"] = visualSampler.captureMS;
    visualMetrics["edges"] = static_cast<std::int64_t>(visualSampler.latest.size());
    std::int64_t platforms = 0;
    for (const Json& record : visualSampler.latest) platforms += isPlatformEdge(record) ? 1 : 0;
    visualMetrics["platforms"] = platforms;
    putString(visualMetrics["status"], visualSampler.status);

    snapshot["visualTimestamp"] = visualSampler.latestAt;
    snapshot["visuals"] = pass.transitioning ? Records{} : positioned(visualSampler.latest, pass.records);
    // Last, because controls, inputs and visuals were positioned against it.
    // During a Space change the snapshot shows no windows, so it no longer
    // keeps the records for the next pass.
    if (pass.spaceTransitioning) recordsSource_.reset();
    snapshot["windows"] = pass.spaceTransitioning ? Records{} : std::move(pass.records);
    return snapshot_;
}

}  // namespace scene
