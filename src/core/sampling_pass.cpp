// The sampling pass: window list to window records, front application, focused
// window, transition flags and session safety, the samplers, and the line.
#include "core/scene_model.h"
#include "core/scene_sampler.h"
#include "core/system_windows.h"
#include "core/window_records.h"
#include "platform/deployment.h"

namespace scene {
namespace {

constexpr std::int64_t kRefreshPasses = 150;
constexpr const char* kDockBundleID = "com.apple.dock";
constexpr const char* kUnavailableLine = R"({"status":"unavailable","windows":[]})";

std::set<std::int32_t> processesOf(Workspace& workspace, std::string_view bundleIdentifier) {
    std::set<std::int32_t> pids;
    for (const RunningApplication& application : workspace.runningApplications(bundleIdentifier))
        pids.insert(application.processIdentifier);
    return pids;
}

}  // namespace

void SceneSampler::sample() {
    if (state.paused && !state.once) return;
    if (state.sampleCount % kRefreshPasses == 0) refreshProcesses();
    ++state.sampleCount;

    const std::shared_ptr<const Json> windowList = platform_.windowServer().copyWindowList();
    if (!windowList || !isWindowList(*windowList)) {
        writeLine(kUnavailableLine);
        return;
    }

    dockSampler.sample(state.dockPIDs, *windowList);

    PassValues pass;
    takeWindowRecords(windowList, pass);
    pass.now = runtime_.clock().uptime();

    updateFrontApplication();
    updateFocusedWindow(pass.records);

    if (!state.once) {
        pass.transitioning = state.transitionUntil > pass.now;
        pass.spaceTransitioning = state.spaceTransitionUntil > pass.now;
    }

    dispatchControls(pass);

    pass.sessionSafe = isSessionSafe(platform_.windowServer().sessionDictionary(),
                                     platform_.workspace().frontmostApplication());
    if (selectedCaptureSupported_) {
        session.setPaused(!pass.sessionSafe);
        session.checkDisplay();
    }

    dispatchVisual(pass);
    dispatchSupports(pass);

    writeLine(snapshotText_.serialise(composeSnapshot(pass)));
}

void SceneSampler::takeWindowRecords(const std::shared_ptr<const Json>& windowList, PassValues& pass) {
    std::vector<Rect> displays = activeDisplayRects(platform_.windowServer());
    const auto sameList = [&](const std::weak_ptr<const Json>& seen) {
        return !seen.owner_before(windowList) && !windowList.owner_before(seen);
    };
    if (recordsSource_ && sameList(recordsSource_->windowList) && recordsSource_->displays == displays) {
        // The snapshot holds this pass's records already; the pass borrows
        // them and composition hands them back.
        pass.records = std::move(snapshot_["windows"].get_ref<Json::array_t&>());
        pass.notificationBackdropsIgnored = recordsSource_->notificationBackdropsIgnored;
        return;
    }
    WindowRecords built = buildWindowRecords(
        *windowList, WindowRecordFilter{state.excludedPIDs, state.annotationPIDs, state.companionPIDs, state.dockPIDs,
                                        state.notificationCenterPIDs, ownPID_, displays,
                                        [this](std::int32_t pid) { return isInputMethodOwner(pid); }});
    pass.records = std::move(built.records);
    pass.notificationBackdropsIgnored = built.notificationBackdropsIgnored;
    recordsSource_ = RecordsSource{windowList, std::move(displays), built.notificationBackdropsIgnored};
}

void SceneSampler::refreshProcesses() {
    // The records depend on these processes.
    recordsSource_.reset();
    Workspace& workspace = platform_.workspace();
    state.dockPIDs = processesOf(workspace, kDockBundleID);
    state.notificationCenterPIDs = processesOf(workspace, kNotificationCenterBundleID);
    state.inputMethodOwners.clear();
    state.annotationPIDs = processesOf(workspace, deployment::kAgentServiceBundleID);
    state.annotationPIDs.merge(processesOf(workspace, deployment::kAgentGuardianBundleID));
    state.companionPIDs = state.once ? std::set<std::int32_t>{} : processesOf(workspace, deployment::kCompanionBundleID);
}

bool SceneSampler::isInputMethodOwner(std::int32_t pid) {
    const auto known = state.inputMethodOwners.find(pid);
    if (known != state.inputMethodOwners.end()) return known->second;
    Workspace& workspace = platform_.workspace();
    const std::optional<std::string> path =
        workspace.runningApplication(pid) ? workspace.bundlePath(pid) : std::nullopt;
    const bool owner = isInputMethodBundle(path, workspace.homeDirectory());
    state.inputMethodOwners.emplace(pid, owner);
    return owner;
}

void SceneSampler::updateFrontApplication() {
    const auto frontmost = platform_.workspace().frontmostApplication();
    if (!frontmost) return;
    const std::int32_t pid = frontmost->processIdentifier;
    if (pid == 0 || state.excludedPIDs.contains(pid) || pid == ownPID_ || pid == state.frontPID) return;
    state.frontPID = pid;
    state.focusedID.reset();
    state.axFocusedID.reset();
    invalidateScene(false, 0.16);
}

void SceneSampler::updateFocusedWindow(const Records& records) {
    auto candidate = focusCandidate(records, state.frontPID, state.axFocusedID);
    if (candidate == state.focusedID) return;
    state.focusedID = std::move(candidate);
    invalidateScene(false, 0.12);
}

}  // namespace scene
