#include "platform/simulated/apply_action.h"

#include <algorithm>
#include <iterator>

#include "platform/accessibility.h"
#include "platform/simulated/scene_parts.h"
#include "platform/simulated/scene_reader.h"

namespace scene::simulated {

namespace {

using scene_read::ObjectReader;

class ActionApplier {
public:
    explicit ActionApplier(DesktopModel& desktop) : desktop_(desktop) {}

    DesktopEffects take() { return std::move(effects_); }

    void operator()(const action::AddWindow& add) {
        removeWindow(add.window.ref());
        const auto at = std::min(add.index, desktop_.windows.size());
        desktop_.windows.insert(desktop_.windows.begin() + static_cast<std::ptrdiff_t>(at), add.window);
        desktop_.addMissingApplications();
    }

    void operator()(const action::RemoveWindow& remove) { removeWindow(remove.window); }

    void operator()(const action::MoveWindow& move) {
        if (WindowModel* window = desktop_.window(move.window)) {
            window->bounds.x = move.to.x;
            window->bounds.y = move.to.y;
        }
    }

    void operator()(const action::ResizeWindow& resize) {
        if (WindowModel* window = desktop_.window(resize.window)) {
            window->bounds.width = resize.size.width;
            window->bounds.height = resize.size.height;
        }
    }

    void operator()(const action::SetWindow& set) {
        WindowModel* window = desktop_.window(set.window);
        if (window == nullptr) return;
        WindowModel changed = *window;
        scene_read::applyWindowKeys(ObjectReader(set.keys, "", scene_read::kWindowKeys), changed, true);
        // A new pid or number must not take another window's name.
        if (changed.ref() != set.window && desktop_.window(changed.ref()) != nullptr) return;
        *window = std::move(changed);
        desktop_.addMissingApplications();
    }

    void operator()(const action::RaiseWindow& raise) {
        auto& windows = desktop_.windows;
        const auto it = std::find_if(windows.begin(), windows.end(),
                                     [&raise](const WindowModel& window) { return window.ref() == raise.window; });
        if (it != windows.end()) std::rotate(windows.begin(), it, std::next(it));
    }

    void operator()(const action::Launch& launch) {
        if (ApplicationModel* running = desktop_.application(launch.application.pid)) {
            running->bundleId = launch.application.bundleId;
            running->bundlePath = launch.application.bundlePath;
            running->ax = launch.application.ax;
            return;
        }
        desktop_.applications.push_back(launch.application);
    }

    void operator()(const action::ApplicationEvent& event) {
        using Kind = action::ApplicationEvent::Kind;
        ApplicationModel* application = desktop_.application(event.pid);
        if (application == nullptr) return;
        const RunningApplication running = application->running();
        switch (event.kind) {
            case Kind::activate:
                desktop_.frontmost = event.pid;
                announce(WorkspaceNotification::didActivateApplication, running);
                break;
            case Kind::hide:
                application->hidden = true;
                announce(WorkspaceNotification::didHideApplication, running);
                break;
            case Kind::unhide:
                application->hidden = false;
                announce(WorkspaceNotification::didUnhideApplication, running);
                break;
            case Kind::terminate:
                std::erase_if(desktop_.windows,
                              [&event](const WindowModel& window) { return window.pid == event.pid; });
                std::erase_if(desktop_.applications,
                              [&event](const ApplicationModel& app) { return app.pid == event.pid; });
                if (desktop_.frontmost == event.pid) desktop_.frontmost.reset();
                announce(WorkspaceNotification::didTerminateApplication, running);
                break;
        }
    }

    void operator()(const action::SwitchSpace& space) {
        desktop_.windows = space.windows;
        desktop_.addMissingApplications();
        announce(WorkspaceNotification::activeSpaceDidChange, std::nullopt);
    }

    void operator()(const action::FocusWindow& focus) {
        ApplicationModel* application = desktop_.application(focus.pid);
        if (application == nullptr) return;
        application->focusedWindow = focus.window;
        effects_.accessibilityNotices.push_back({focus.pid, std::string(kFocusedWindowChanged)});
    }

    void operator()(const action::FocusElement& focus) {
        ApplicationModel* application = desktop_.application(focus.pid);
        if (application == nullptr) return;
        application->focusedElement = focus.element;
        effects_.accessibilityNotices.push_back({focus.pid, std::string(kFocusedUIElementChanged)});
    }

    void operator()(const action::SetSession& session) { desktop_.session = session.value; }

    void operator()(const action::SetInput& input) {
        scene_read::applyInputKeys(ObjectReader(input.keys, "", scene_read::kInputKeys), desktop_.input);
    }

    void operator()(const action::SetTrust& trust) {
        if (trust.accessibility) desktop_.system.accessibility = *trust.accessibility;
        if (trust.screenCapture) desktop_.system.screenCapture = *trust.screenCapture;
    }

    void operator()(const action::PowerEvent& power) {
        using Kind = action::PowerEvent::Kind;
        const bool asleep = power.kind == Kind::screensSleep || power.kind == Kind::systemSleep;
        for (auto& display : desktop_.displays) display.asleep = asleep;
        switch (power.kind) {
            case Kind::screensSleep:
                announce(WorkspaceNotification::screensDidSleep, std::nullopt);
                break;
            case Kind::screensWake:
                announce(WorkspaceNotification::screensDidWake, std::nullopt);
                break;
            case Kind::systemSleep:
                announce(WorkspaceNotification::willSleep, std::nullopt);
                break;
            case Kind::systemWake:
                announce(WorkspaceNotification::didWake, std::nullopt);
                break;
        }
    }

    void operator()(const action::SetDisplay& set) {
        if (DisplayModel* display = desktop_.display(set.id))
            scene_read::applyDisplayKeys(ObjectReader(set.keys, "", scene_read::kDisplayChangeKeys), *display);
    }

    void operator()(const action::SetWindowList& set) { desktop_.windowList = set.state; }

    void operator()(const action::SetPicker& set) {
        scene_read::applyPickerKeys(ObjectReader(set.keys, "", scene_read::kPickerKeys), desktop_.picker);
    }

    void operator()(const action::SetStream& set) {
        scene_read::applyStreamKeys(ObjectReader(set.keys, "", scene_read::kStreamKeys), desktop_.stream);
    }

    void operator()(const action::StreamError& error) { effects_.streamErrors.push_back({error.domain, error.code}); }

private:
    void removeWindow(const WindowRef& ref) {
        std::erase_if(desktop_.windows, [&ref](const WindowModel& window) { return window.ref() == ref; });
    }

    void announce(WorkspaceNotification name, std::optional<RunningApplication> application) {
        effects_.workspaceEvents.push_back({name, std::move(application)});
    }

    DesktopModel& desktop_;
    DesktopEffects effects_;
};

}  // namespace

DesktopEffects applyAction(DesktopModel& desktop, const SceneAction& action) {
    ActionApplier applier(desktop);
    try {
        std::visit(applier, action);
    } catch (const SceneError&) {
        // The keys were validated when the action was read; a refusal here would
        // be a reader that disagrees with itself, and changes nothing visible.
    }
    return applier.take();
}

}  // namespace scene::simulated
