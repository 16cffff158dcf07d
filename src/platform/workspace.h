#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window_server.h"

namespace scene {

struct RunningApplication {
    std::int32_t processIdentifier = 0;
    std::optional<std::string> bundleIdentifier;
    bool operator==(const RunningApplication&) const = default;
};

struct Screen {
    std::optional<DisplayID> number;  // the screen's display id, when readable
};

struct SystemVersion {
    int major = 0;
    int minor = 0;
    int patch = 0;
    bool atLeast(int wantMajor, int wantMinor) const {
        return major > wantMajor || (major == wantMajor && minor >= wantMinor);
    }
};

enum class WorkspaceNotification {
    didActivateApplication,
    didHideApplication,
    didUnhideApplication,
    didTerminateApplication,
    activeSpaceDidChange,
    screensDidSleep,
    willSleep,
    screensDidWake,
    didWake,
};

struct WorkspaceEvent {
    WorkspaceNotification name;
    std::optional<RunningApplication> application;  // the notification's application, when it has one
};

enum class ActivationPolicy { regular = 0, accessory = 1, prohibited = 2 };

using ObserverToken = std::uint64_t;

// Applications, screens, notifications and facts about this process.
// Notification handlers run on the main queue.
class Workspace {
public:
    virtual ~Workspace() = default;

    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    virtual std::vector<RunningApplication> runningApplications(std::string_view bundleIdentifier) = 0;
    virtual std::optional<RunningApplication> runningApplication(std::int32_t processIdentifier) = 0;
    // File-system path of the application's bundle; nothing when the
    // application or its bundle location cannot be obtained.
    virtual std::optional<std::string> bundlePath(std::int32_t processIdentifier) = 0;
    virtual std::vector<Screen> screens() = 0;

    virtual ObserverToken addObserver(WorkspaceNotification name, std::function<void(const WorkspaceEvent&)> handler) = 0;
    virtual void removeObserver(ObserverToken token) = 0;

    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    virtual std::string homeDirectory() = 0;
    virtual std::int32_t processIdentifier() = 0;
    virtual std::int32_t parentProcessIdentifier() = 0;
    virtual SystemVersion systemVersion() = 0;
};

}  // namespace scene
