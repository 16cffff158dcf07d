#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "platform/simulated/desktop.h"
#include "platform/simulated/process_facts.h"
#include "platform/workspace.h"

namespace scene::simulated {

// The workspace of the simulated desktop: applications and screens from the
// shared model, notifications delivered on the main queue by the desktop, and
// this process's facts. Any thread.
class SimulatedWorkspace final : public Workspace {
public:
    SimulatedWorkspace(std::shared_ptr<Desktop> desktop, ProcessFacts facts)
        : desktop_(std::move(desktop)), facts_(std::move(facts)) {}

    std::optional<RunningApplication> frontmostApplication() override;
    std::vector<RunningApplication> runningApplications(std::string_view bundleIdentifier) override;
    std::optional<RunningApplication> runningApplication(std::int32_t processIdentifier) override;
    std::optional<std::string> bundlePath(std::int32_t processIdentifier) override;
    std::vector<Screen> screens() override;

    ObserverToken addObserver(WorkspaceNotification name, std::function<void(const WorkspaceEvent&)> handler) override;
    void removeObserver(ObserverToken token) override;

    void setActivationPolicy(ActivationPolicy policy) override;
    std::string homeDirectory() override;
    std::int32_t processIdentifier() override;
    std::int32_t parentProcessIdentifier() override;
    SystemVersion systemVersion() override;

    // The last policy set; none before the first call.
    std::optional<ActivationPolicy> activationPolicy() const;

private:
    std::shared_ptr<Desktop> desktop_;
    const ProcessFacts facts_;
    mutable std::mutex policyMutex_;
    std::optional<ActivationPolicy> policy_;
};

}  // namespace scene::simulated
