#include "platform/x11/x11_workspace.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace scene::x11 {

std::optional<std::string> bundleIdentifierOf(const ClientWindow& window) {
    if (hasType(window.traits, "_NET_WM_WINDOW_TYPE_DOCK")) return std::string(kDockBundleID);
    if (hasType(window.traits, "_NET_WM_WINDOW_TYPE_NOTIFICATION")) return std::string(kNotificationUIBundleID);
    if (window.className.empty()) return std::nullopt;
    return window.className;
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() {
    const auto pid = desktop_->activeWindowPID();
    if (!pid) return std::nullopt;
    return runningApplication(*pid);
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
    // A process with a dock window answers as the Dock even when it also has
    // ordinary windows, so dock and notification owners win over WM_CLASS.
    std::optional<RunningApplication> found;
    for (const auto& window : desktop_->onScreenWindows()) {
        if (window.facts.pid != processIdentifier) continue;
        const auto identifier = bundleIdentifierOf(window);
        if (!found || identifier == kDockBundleID || identifier == kNotificationUIBundleID)
            found = RunningApplication{processIdentifier, identifier};
    }
    return found;
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
    for (const auto& monitor : desktop_->monitors()) result.push_back(Screen{monitor.id});
    return result;
}

ObserverToken X11Workspace::addObserver(WorkspaceNotification, std::function<void(const WorkspaceEvent&)>) {
    std::lock_guard lock(observerMutex_);
    return nextToken_++;
}

void X11Workspace::removeObserver(ObserverToken) {}

std::string X11Workspace::homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
    return "/";
}

std::int32_t X11Workspace::processIdentifier() { return static_cast<std::int32_t>(getpid()); }

std::int32_t X11Workspace::parentProcessIdentifier() { return static_cast<std::int32_t>(getppid()); }

}  // namespace scene::x11
