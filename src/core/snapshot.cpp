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
// allocating them anew thirty times a second.
const Json& SceneSampler::composeSnapshot(PassValues& pass) {
    WindowServer& windowServer = platform_.windowServer();
    const double now = pass.now;

    Json& snapshot = snapshot_;
    Json& context = memberSlot(snapshot, "context");
    memberSlot(context, "revision") = state.revision;
    memberSlot(context, "spaceRevision") = state.spaceRevision;
    memberSlot(context, "frontPID") = state.frontPID;
    memberSlot(context, "focusedWindowId") = state.focusedID ? Json(*state.focusedID) : Json(nullptr);
    memberSlot(context, "transitioning") = pass.transitioning;
    memberSlot(context, "spaceTransitioning") = pass.spaceTransitioning;
    memberSlot(context, "pendingSupportOwners") = topSampler.pendingOwners;
    memberSlot(context, "leftButtonDown") = windowServer.leftButtonDown();

    const std::string revision = inputRevision(windowServer);
    const std::uint64_t modifierFlags = windowServer.modifierFlags();

    putString(memberSlot(snapshot, "status"), kReadyStatus);
    memberSlot(snapshot, "notificationBackdropsIgnored") = pass.notificationBackdropsIgnored;
    memberSlot(snapshot, "sessionSafe") = pass.sessionSafe;
    putString(memberSlot(snapshot, "inputRevision"), revision);
    memberSlot(snapshot, "commandKey") = (modifierFlags & kCommandFlag) != 0;
    memberSlot(snapshot, "controls") = pass.transitioning ? Records{} : positioned(state.controls, pass.records);
    memberSlot(snapshot, "inputs") = pass.transitioning ? Records{} : positioned(state.inputControls, pass.records);
    putString(memberSlot(snapshot, "accessibility"), state.controlsStatus);
    putRecords(memberSlot(snapshot, "docks"), dockSampler.items);
    putString(memberSlot(snapshot, "dockStatus"), dockSampler.status);
    putString(memberSlot(snapshot, "captureAccess"), capture.status());
    putString(memberSlot(snapshot, "captureMode"), capture.selectedAvailable ? kSelectedSessionMode : kLegacyMode);

    Json& captureMetrics = memberSlot(snapshot, "captureMetrics");
    memberSlot(captureMetrics, "directPixelRequests") = capture.directPixelRequests;
    if (selectedCaptureSupported_) {
        putString(memberSlot(snapshot, "captureSession"), session.displayState());
        memberSlot(snapshot, "captureConsentID") = session.consents;
        const auto display = session.displayID();
        memberSlot(snapshot, "captureSelectedDisplay") = display ? Json(*display) : Json(nullptr);
        session.writeMetrics(captureMetrics);
    } else {
        putString(memberSlot(snapshot, "captureSession"), kUnsupportedOS);
        memberSlot(snapshot, "captureConsentID") = std::uint64_t{0};
        memberSlot(snapshot, "captureSelectedDisplay") = nullptr;
    }
    putString(memberSlot(snapshot, "capturePauseReason"), capture.circuit.reason.value_or(""));

    // One look at the store serves both the proofs and their count.
    Records proofs = selectedSupports.fresh();
    const auto proofCount = static_cast<std::int64_t>(proofs.size());
    memberSlot(snapshot, "supportProofs") = capture.available() ? std::move(proofs) : Records{};
    putString(memberSlot(snapshot, "supportVerification"),
              capture.selectedAvailable ? selectedSupports.status : supportSampler.status);

    Json& supportMetrics = memberSlot(snapshot, "supportMetrics");
    memberSlot(supportMetrics, "captureMS") = supportSampler.captureMS;
    memberSlot(supportMetrics, "analysisMS") = supportSampler.analysisMS;
    memberSlot(supportMetrics, "topCaptureMS") = topSampler.captureMS;
    memberSlot(supportMetrics, "topTargets") = topSampler.targetCount;
    putString(memberSlot(supportMetrics, "topStatus"), topSampler.status);
    memberSlot(supportMetrics, "selectedContourMS") = selectedSupports.analysisMS;
    memberSlot(supportMetrics, "selectedContourPixels") = selectedSupports.grayPixels;
    memberSlot(supportMetrics, "selectedContourRegions") = selectedSupports.grayRegions;
    memberSlot(supportMetrics, "selectedContourCandidates") = selectedSupports.candidateCount;
    memberSlot(supportMetrics, "selectedContourOwners") = selectedSupports.pairedOwners;
    memberSlot(supportMetrics, "selectedContourProofs") = proofCount;
    memberSlot(supportMetrics, "selectedRawRuns") = selectedSupports.rawRuns;
    memberSlot(supportMetrics, "selectedDockRawRuns") = selectedSupports.dockRuns;
    memberSlot(supportMetrics, "selectedDockTargets") = static_cast<std::int64_t>(dockSampler.items.size());
    memberSlot(supportMetrics, "grayPixels") = supportSampler.grayPixels;
    memberSlot(supportMetrics, "grayRegions") = supportSampler.grayRegions;
    memberSlot(supportMetrics, "candidates") = supportSampler.candidateCount;
    putString(memberSlot(supportMetrics, "dockReadStatus"), topSampler.dockReadStatus);
    memberSlot(supportMetrics, "dockReadAgeMS") = ageMS(now, topSampler.dockReadAt);
    memberSlot(supportMetrics, "dockReadMS") = topSampler.dockReadMS;
    memberSlot(supportMetrics, "dockFailures") = topSampler.dockFailures;

    memberSlot(snapshot, "visuals") = pass.transitioning ? Records{} : positioned(visualSampler.latest, pass.records);
    putString(memberSlot(snapshot, "vision"), visualSampler.status);
    memberSlot(snapshot, "visualAgeMS") = ageMS(now, visualSampler.latestAt);
    memberSlot(snapshot, "visualTimestamp") = visualSampler.latestAt;

    Json& visualMetrics = memberSlot(snapshot, "visualMetrics");
    memberSlot(visualMetrics, "analysisMS") = visualSampler.analysisMS;
    memberSlot(visualMetrics, "captureMS") = visualSampler.captureMS;
    putString(memberSlot(visualMetrics, "status"), visualSampler.status);
    memberSlot(visualMetrics, "edges") = static_cast<std::int64_t>(visualSampler.latest.size());
    std::int64_t platforms = 0;
    for (const Json& record : visualSampler.latest) platforms += isPlatformEdge(record) ? 1 : 0;
    memberSlot(visualMetrics, "platforms") = platforms;
    // Last, because controls, inputs and visuals were positioned against it.
    // During a Space change the snapshot shows no windows, so it no longer
    // keeps the records for the next pass.
    if (pass.spaceTransitioning) recordsSource_.reset();
    memberSlot(snapshot, "windows") = pass.spaceTransitioning ? Records{} : std::move(pass.records);
    return snapshot;
}

}  // namespace scene
