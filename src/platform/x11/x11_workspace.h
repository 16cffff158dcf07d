#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/runtime.h"
#include "platform/workspace.h"
#include "platform/x11/x11_desktop.h"
#include "platform/x11/x11_event_observers.h"
#include "platform/x11/x11_event_watcher.h"
#include "platform/x11/x11_window_facts.h"

namespace scene::x11 {

inline constexpr std::string_view kDockBundleID = "com.apple.dock";
inline constexpr std::string_view kNotificationUIBundleID = "com.apple.notificationcenterui";

// The identifier an X client answers to: its dock and notification windows
// make it the Dock or the notification UI, otherwise its WM_CLASS class.
std::optional<std::string> bundleIdentifierOf(const ClientWindow& window);

// Applications are the owners of top-level windows; when no window is active
// the desktop's owner is in front (X11Desktop::desktopOwner). This process's
// facts come from the kernel. Any thread. Notifications come from a watcher
// of the desktop on a thread of its own, started with the first observer and
// again, when asked for the front application, on each new connection to the
// server, and are delivered on the main queue; removing an observer on the main queue stops
// its deliveries at once. Screen sleep and wake follow the server's power
// management, checked every second on the main queue from the first observer
// of either on, where the server has it; nothing on an X desktop tells of
// system sleep.
class X11Workspace final : public Workspace {
public:
    X11Workspace(std::shared_ptr<X11Desktop> desktop, Runtime& runtime, const std::string& displayName);
    ~X11Workspace() override;

    std::optional<RunningApplication> frontmostApplication() override;
    std::vector<RunningApplication> runningApplications(std::string_view bundleIdentifier) override;
    std::optional<RunningApplication> runningApplication(std::int32_t processIdentifier) override;
    std::optional<std::string> bundlePath(std::int32_t processIdentifier) override;
    std::vector<Screen> screens() override;

    // Observers of screen sleep and wake are added on the main queue, where
    // the power check's timer lives.
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
    void watchDesktop();
    // Starts the watcher anew when the desktop has a new connection.
    void keepWatching();
    void watchPower();
    void checkPower();

    std::shared_ptr<X11Desktop> desktop_;
    Runtime& runtime_;
    const std::string displayName_;
    // Shared with deliveries on their way to the main queue.
    std::shared_ptr<WorkspaceObservers> observers_ = std::make_shared<WorkspaceObservers>();
    std::mutex restartMutex_;  // held while a watcher starts; its handlers never take it
    std::mutex watchMutex_;
    bool watchStarted_ = false;                 // under watchMutex_
    std::uint64_t watchedConnection_ = 0;       // under watchMutex_; a failed start waits for the next one
    std::unique_ptr<X11EventWatcher> watcher_;  // under watchMutex_
    // Main queue only.
    std::unique_ptr<RepeatingTimer> powerTimer_;
    bool displaysAsleep_ = false;
};

}  // namespace scene::x11
