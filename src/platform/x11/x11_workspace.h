#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/runtime.h"
#include "platform/workspace.h"
#include "platform/x11/x11_desktop.h"
#include "platform/x11/x11_window_facts.h"

namespace scene::x11 {

inline constexpr std::string_view kDockBundleID = "com.apple.dock";
inline constexpr std::string_view kNotificationUIBundleID = "com.apple.notificationcenterui";

// The identifier an X client answers to: its dock and notification windows
// make it the Dock or the notification UI, otherwise its WM_CLASS class.
std::optional<std::string> bundleIdentifierOf(const ClientWindow& window);

// Applications are the owners of top-level windows; this process's facts come
// from the kernel. Any thread. Notifications are accepted but not delivered
// yet: this slice does not watch root property changes.
class X11Workspace final : public Workspace {
public:
    X11Workspace(std::shared_ptr<X11Desktop> desktop, Runtime&, const std::string& /*displayName*/)
        : desktop_(std::move(desktop)) {}

    std::optional<RunningApplication> frontmostApplication() override;
    std::vector<RunningApplication> runningApplications(std::string_view bundleIdentifier) override;
    std::optional<RunningApplication> runningApplication(std::int32_t processIdentifier) override;
    std::optional<std::string> bundlePath(std::int32_t processIdentifier) override;
    std::vector<Screen> screens() override;

    ObserverToken addObserver(WorkspaceNotification name, std::function<void(const WorkspaceEvent&)> handler) override;
    void removeObserver(ObserverToken token) override;

    void setActivationPolicy(ActivationPolicy) override {}
    std::string homeDirectory() override;
    std::int32_t processIdentifier() override;
    std::int32_t parentProcessIdentifier() override;
    // Fixed: the level whose capture features (selected capture, included
    // displays in picker results) the logic enables.
    SystemVersion systemVersion() override { return SystemVersion{15, 2, 0}; }

private:
    std::shared_ptr<X11Desktop> desktop_;
    std::mutex observerMutex_;
    ObserverToken nextToken_ = 1;
};

}  // namespace scene::x11
