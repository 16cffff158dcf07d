// Scene invalidation and the events that cause it between ticks: workspace
// notifications, Space changes and the accessibility focus watch.
#include <algorithm>

#include "core/scene_sampler.h"

namespace scene {
namespace {

constexpr const char* kScanning = "scanning";
constexpr const char* kOff = "off";

}  // namespace

void SceneSampler::invalidateScene(bool space, double delay) {
    ++state.revision;
    if (space) ++state.spaceRevision;
    state.controls.clear();
    state.controlsAt = 0;
    state.inputControls.clear();
    state.inputsAt = 0;
    visualSampler.reset(state.visualEnabled ? kScanning : kOff);
    const double limit = runtime_.clock().uptime() + delay;
    state.transitionUntil = std::max(state.transitionUntil, limit);
    if (space) state.spaceTransitionUntil = std::max(state.spaceTransitionUntil, limit);
}

void SceneSampler::handleApplicationEvent(const WorkspaceEvent& event) {
    const std::optional<RunningApplication>& application = event.application;
    if (application &&
        (state.excludedPIDs.contains(application->processIdentifier) || application->processIdentifier == ownPID_))
        return;
    if (event.name == WorkspaceNotification::didActivateApplication) {
        state.axFocusedID.reset();
    } else if (!application || application->processIdentifier == state.frontPID) {
        state.axFocusedID.reset();
    }
    sample();
}

void SceneSampler::handleSpaceChange() {
    state.axFocusedID.reset();
    state.focusedID.reset();
    invalidateScene(true, 0.4);
    sample();
}

void SceneSampler::watchFocus(std::int32_t pid) {
    if (!state.controlsEnabled || !platform_.accessibility().isProcessTrusted()) return;
    if (pid == state.observedPID) return;
    removeFocusObserver();
    state.observedPID = pid;

    Accessibility& accessibility = platform_.accessibility();
    auto observer = accessibility.createObserver(
        pid, [this](const Element& element, const std::string& name) { handleFocusNotification(element, name); });
    if (!observer) return;
    const Element application = accessibility.applicationElement(pid);
    observer->addNotification(application, kFocusedWindowChanged);
    observer->addNotification(application, kFocusedUIElementChanged);
    observer->attachToMainLoop();
    state.focusObserver = std::move(observer);
}

void SceneSampler::removeFocusObserver() {
    if (!state.focusObserver) return;
    state.focusObserver->detachFromMainLoop();
    state.focusObserver.reset();
}

void SceneSampler::handleFocusNotification(const Element& element, const std::string& notification) {
    if (!state.controlsEnabled) return;
    const auto pid = platform_.accessibility().processIdentifier(element);
    if (!pid.ok() || pid.value != state.frontPID) return;
    if (notification == kFocusedWindowChanged) {
        state.axFocusedID.reset();
        controlSampler.lastStarted = 0;
        sample();
    } else {
        controlSampler.lastStarted = 0;
    }
}

}  // namespace scene
