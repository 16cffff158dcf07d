#include "platform/x11/x11_workspace.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace scene::x11 {
namespace {

constexpr double kPowerCheckSeconds = 1.0;
constexpr double kPowerCheckLeeway = 0.1;

}  // namespace

X11Workspace::X11Workspace(std::shared_ptr<X11Desktop> desktop, Runtime& runtime, const std::string& displayName)
    : desktop_(std::move(desktop)), runtime_(runtime), displayName_(displayName) {}

X11Workspace::~X11Workspace() {
    if (powerTimer_) powerTimer_->cancel();
    std::unique_ptr<X11EventWatcher> watcher;
    {
        std::lock_guard lock(watchMutex_);
        watcher = std::move(watcher_);
    }
    // Joins the event thread, whose handlers may be asking who a process is.
    watcher.reset();
    // What the thread already posted finds nobody to tell.
    observers_->clear();
}

std::optional<std::string> bundleIdentifierOf(const ClientWindow& window) {
    if (hasType(window.traits, "_NET_WM_WINDOW_TYPE_DOCK")) return std::string(kDockBundleID);
    if (hasType(window.traits, "_NET_WM_WINDOW_TYPE_NOTIFICATION")) return std::string(kNotificationUIBundleID);
    if (window.className.empty()) return std::nullopt;
    return window.className;
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() {
    keepWatching();
    if (const auto pid = desktop_->activeWindowPID()) {
        if (auto application = runningApplication(*pid)) return application;
        // Its windows not listed yet (a lone dialog on its way up), it still names itself.
        return RunningApplication{*pid, std::nullopt};
    }
    // The wallpaper clicked, an empty desktop, the last window closed: the
    // desktop is still in use, and its own application is in front.
    const auto owner = desktop_->desktopOwner();
    if (!owner) return std::nullopt;
    return RunningApplication{owner->pid, owner->name};
}

std::vector<RunningApplication> X11Workspace::runningApplications(std::string_view bundleIdentifier) {
    std::vector<RunningApplication> result;
    for (const auto& window : desktop_->onScreenWindows()) {
        if (!window.facts.pid || bundleIdentifierOf(window) != bundleIdentifier) continue;
        RunningApplication application{*window.facts.pid, std::string(bundleIdentifier)};
        if (std::find(result.begin(), result.end(), application) == result.end()) result.push_back(application);
    }
    return result;
}

std::optional<RunningApplication> X11Workspace::runningApplication(std::int32_t processIdentifier) {
    // The watcher follows every managed client as it comes, which saves
    // reading the whole window list each time the front application is
    // asked for.
    {
        std::lock_guard lock(watchMutex_);
        if (watcher_) {
            if (auto known = watcher_->application(processIdentifier)) return known;
        }
    }
    // A process with a dock window answers as the Dock even when it also has
    // ordinary windows, so dock and notification owners win over WM_CLASS.
    std::optional<RunningApplication> found;
    for (const auto& window : desktop_->onScreenWindows()) {
        if (window.facts.pid != processIdentifier) continue;
        const auto identifier = bundleIdentifierOf(window);
        if (!found || identifier == kDockBundleID || identifier == kNotificationUIBundleID)
            found = RunningApplication{processIdentifier, identifier};
    }
    if (found) return found;
    if (const auto owner = desktop_->desktopOwner(); owner && owner->pid == processIdentifier)
        return RunningApplication{processIdentifier, owner->name};
    return std::nullopt;
}

std::optional<std::string> X11Workspace::bundlePath(std::int32_t processIdentifier) {
    if (processIdentifier <= 0) return std::nullopt;
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/" + std::to_string(processIdentifier) + "/exe", error);
    if (error) return std::nullopt;
    return path.string();
}

std::vector<Screen> X11Workspace::screens() {
    std::vector<Screen> result;
    const auto monitors = desktop_->monitors();
    for (const auto& monitor : *monitors) result.push_back(Screen{monitor.id});
    return result;
}

ObserverToken X11Workspace::addObserver(WorkspaceNotification name,
                                        std::function<void(const WorkspaceEvent&)> handler) {
    const ObserverToken token = observers_->add(name, std::move(handler));
    if (name == WorkspaceNotification::screensDidSleep || name == WorkspaceNotification::screensDidWake) {
        watchPower();
    } else {
        watchDesktop();
    }
    return token;
}

void X11Workspace::removeObserver(ObserverToken token) { observers_->remove(token); }

void X11Workspace::watchDesktop() {
    {
        std::lock_guard lock(watchMutex_);
        if (watchStarted_) return;
        watchStarted_ = true;
    }
    keepWatching();
}

void X11Workspace::keepWatching() {
    std::lock_guard restart(restartMutex_);
    const std::uint64_t connection = desktop_->connections();
    std::unique_ptr<X11EventWatcher> old;
    {
        std::lock_guard lock(watchMutex_);
        if (!watchStarted_ || connection == watchedConnection_) return;
        watchedConnection_ = connection;
        old = std::move(watcher_);
    }
    // Joins the old thread, which ended with its server, outside the lock
    // its handlers take.
    old.reset();
    auto watcher = X11EventWatcher::start(
        displayName_, desktop_, [this](std::int32_t pid) { return runningApplication(pid); },
        [&queue = runtime_.mainQueue(), observers = observers_](WorkspaceEvent event) {
            queue.post([observers, event = std::move(event)] { observers->deliver(event); });
        });
    std::lock_guard lock(watchMutex_);
    watcher_ = std::move(watcher);
}

void X11Workspace::watchPower() {
    if (powerTimer_) return;
    const auto asleep = desktop_->displaysAsleep();
    if (!asleep) return;  // no power management on this server
    displaysAsleep_ = *asleep;
    powerTimer_ = runtime_.makeTimer([this] { checkPower(); });
    powerTimer_->schedule(kPowerCheckSeconds, kPowerCheckSeconds, kPowerCheckLeeway);
}

void X11Workspace::checkPower() {
    const auto asleep = desktop_->displaysAsleep();
    if (!asleep || *asleep == displaysAsleep_) return;
    displaysAsleep_ = *asleep;
    observers_->deliver(
        {displaysAsleep_ ? WorkspaceNotification::screensDidSleep : WorkspaceNotification::screensDidWake, {}});
}

std::string X11Workspace::homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
    return "/";
}

std::int32_t X11Workspace::processIdentifier() { return static_cast<std::int32_t>(getpid()); }

std::int32_t X11Workspace::parentProcessIdentifier() { return static_cast<std::int32_t>(getppid()); }

}  // namespace scene::x11
