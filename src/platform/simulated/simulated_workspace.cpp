#include "platform/simulated/simulated_workspace.h"

namespace scene::simulated {

std::optional<RunningApplication> SimulatedWorkspace::frontmostApplication() {
    return desktop_->read([](const DesktopModel& model) -> std::optional<RunningApplication> {
        if (!model.frontmost) return std::nullopt;
        const ApplicationModel* application = model.application(*model.frontmost);
        if (application == nullptr) return std::nullopt;
        return application->running();
    });
}

std::vector<RunningApplication> SimulatedWorkspace::runningApplications(std::string_view bundleIdentifier) {
    return desktop_->read([bundleIdentifier](const DesktopModel& model) {
        std::vector<RunningApplication> found;
        for (const auto& application : model.applications) {
            if (application.bundleId == bundleIdentifier) found.push_back(application.running());
        }
        return found;
    });
}

std::optional<RunningApplication> SimulatedWorkspace::runningApplication(std::int32_t processIdentifier) {
    return desktop_->read([processIdentifier](const DesktopModel& model) -> std::optional<RunningApplication> {
        const ApplicationModel* application = model.application(processIdentifier);
        if (application == nullptr) return std::nullopt;
        return application->running();
    });
}

std::optional<std::string> SimulatedWorkspace::bundlePath(std::int32_t processIdentifier) {
    return desktop_->read([processIdentifier](const DesktopModel& model) -> std::optional<std::string> {
        const ApplicationModel* application = model.application(processIdentifier);
        if (application == nullptr) return std::nullopt;
        return application->bundlePath;
    });
}

std::vector<Screen> SimulatedWorkspace::screens() {
    // Like the screen list, only displays that are up: an inactive display has no screen.
    return desktop_->read([](const DesktopModel& model) {
        std::vector<Screen> screens;
        for (const DisplayID id : model.activeDisplays()) screens.push_back(Screen{id});
        return screens;
    });
}

ObserverToken SimulatedWorkspace::addObserver(WorkspaceNotification name,
                                              std::function<void(const WorkspaceEvent&)> handler) {
    return desktop_->addObserver(name, std::move(handler));
}

void SimulatedWorkspace::removeObserver(ObserverToken token) { desktop_->removeObserver(token); }

void SimulatedWorkspace::setActivationPolicy(ActivationPolicy policy) {
    std::lock_guard lock(policyMutex_);
    policy_ = policy;
}

std::optional<ActivationPolicy> SimulatedWorkspace::activationPolicy() const {
    std::lock_guard lock(policyMutex_);
    return policy_;
}

std::string SimulatedWorkspace::homeDirectory() {
    return desktop_->read([](const DesktopModel& model) { return model.system.home; });
}

std::int32_t SimulatedWorkspace::processIdentifier() { return facts_.processIdentifier; }

std::int32_t SimulatedWorkspace::parentProcessIdentifier() {
    return facts_.parentProcessIdentifier ? facts_.parentProcessIdentifier() : 0;
}

SystemVersion SimulatedWorkspace::systemVersion() {
    return desktop_->read([](const DesktopModel& model) { return model.system.version; });
}

}  // namespace scene::simulated
