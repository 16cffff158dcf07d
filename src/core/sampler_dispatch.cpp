// Which samplers a pass starts, with what, and what becomes of their results.
#include "core/item_positioning.h"
#include "core/scene_sampler.h"
#include "platform/json_read.h"

namespace scene {
namespace {

constexpr double kItemFreshness = 0.55;
constexpr const char* kPermissionRequired = "permission-required";
constexpr const char* kOff = "off";
constexpr const char* kUnsupported = "unsupported";
constexpr const char* kSessionInactive = "session-inactive";

}  // namespace

void SceneSampler::dispatchControls(const PassValues& pass) {
    // Asked only when a walk could need it.
    const bool trusted =
        (state.controlsEnabled || state.inputsEnabled) && platform_.accessibility().isProcessTrusted();
    if (state.controlsEnabled) {
        if (!trusted) {
            state.controls.clear();
            state.controlsStatus = kPermissionRequired;
        } else if (!pass.transitioning && state.frontPID != 0) {
            watchFocus(state.frontPID);
            controlSampler.schedule(state.frontPID, pass.records, sceneKey(), state.anchorID, false,
                                    [this](std::string key, std::optional<std::string> focused, Records items,
                                           std::string status) {
                                        controlsCompleted(key, focused, std::move(items), status);
                                    });
        }
    } else {
        state.controls.clear();
        state.controlsStatus = kOff;
    }
    if (pass.now - state.controlsAt > kItemFreshness) state.controls.clear();

    if (state.inputsEnabled && !pass.transitioning && state.frontPID != 0 && trusted) {
        inputSampler.schedule(state.frontPID, pass.records, sceneKey(), std::nullopt, true,
                              [this](std::string key, std::optional<std::string>, Records items, std::string) {
                                  inputsCompleted(key, std::move(items));
                              });
    }
    if (!state.inputsEnabled || pass.now - state.inputsAt > kItemFreshness) state.inputControls.clear();
}

void SceneSampler::controlsCompleted(const std::string& key, const std::optional<std::string>& focused, Records items,
                                     const std::string& status) {
    if (key != sceneKey() || !state.controlsEnabled) return;
    if (focused && focused != state.focusedID) {
        state.axFocusedID = focused;
        state.focusedID = focused;
        invalidateScene(false, 0.1);
        return;
    }
    const double now = runtime_.clock().uptime();
    if (status == kUnsupported && !state.controls.empty() && now - state.controlsAt <= kItemFreshness) return;
    state.controls = std::move(items);
    state.controlsAt = now;
    state.controlsStatus = status;
}

void SceneSampler::inputsCompleted(const std::string& key, Records items) {
    if (key != sceneKey() || !state.inputsEnabled) return;
    state.inputControls = std::move(items);
    state.inputsAt = runtime_.clock().uptime();
}

void SceneSampler::dispatchVisual(const PassValues& pass) {
    std::optional<Json> target;
    if (!pass.records.empty() && !pass.transitioning && state.focusedID) {
        for (const Json& record : pass.records) {
            const Json* id = json_read::member(record, "id");
            if (id && id->is_string() && id->get_ref<const std::string&>() == *state.focusedID) {
                target = record;
                break;
            }
        }
    }
    visualSampler.sample(target, sceneKey(), pass.sessionSafe && (state.controlsEnabled || state.visualEnabled),
                         state.anchorID.has_value());
}

void SceneSampler::dispatchSupports(const PassValues& pass) {
    if (!pass.sessionSafe) {
        if (supportSampler.status != kSessionInactive) {
            supportSampler.reset(kSessionInactive);
            topSampler.reset(kSessionInactive);
            selectedSupports.reset(kSessionInactive);
        }
        return;
    }
    if (capture.selectedAvailable) {
        if (!selectedCaptureSupported_) return;
        const auto frame = session.current();
        // Both sides are lvalues, so the records are passed, not copied.
        const Records noWindows;
        const Records& windows = pass.spaceTransitioning ? noWindows : pass.records;
        selectedSupports.sample(frame ? std::optional<Image>(frame->image) : std::nullopt,
                                frame ? frame->bounds : Rect{}, frame ? frame->displayID : 0,
                                frame ? frame->observed : 0, frame ? frame->sequence : 0,
                                windows, dockSampler.items,
                                pass.transitioning ? Records{} : positioned(visualSampler.latest, pass.records),
                                state.anchorID);
        return;
    }
    topSampler.sample(pass.records, dockSampler.items, state.anchorID, capture);
    supportSampler.sample(pass.records, dockSampler.items, visualSampler.latest, state.excludedPIDs, state.anchorID,
                          Records{}, capture, system_);
}

}  // namespace scene
