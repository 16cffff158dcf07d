#include "platform/x11/x11_event_tracker.h"

#include "platform/x11/x11_workspace.h"

namespace scene::x11 {
namespace {

struct Application {
    RunningApplication identity;
    bool hidden = true;  // every client hidden
};

// Per process, the identity follows the rule the workspace answers with: a
// dock or notification client makes the whole process the Dock or the
// notification UI; otherwise its oldest client (the lowest window id) names it.
std::map<std::int32_t, Application> applicationsOf(const ClientTracker::Clients& clients) {
    std::map<std::int32_t, Application> applications;
    for (const auto& [window, client] : clients) {
        const auto [it, added] =
            applications.try_emplace(client.pid, Application{RunningApplication{client.pid, client.bundleIdentifier}});
        Application& application = it->second;
        if (!added && (client.bundleIdentifier == kDockBundleID || client.bundleIdentifier == kNotificationUIBundleID))
            application.identity.bundleIdentifier = client.bundleIdentifier;
        application.hidden = application.hidden && client.hidden;
    }
    return applications;
}

}  // namespace

std::map<std::int32_t, RunningApplication> ClientTracker::applications() const {
    std::map<std::int32_t, RunningApplication> result;
    for (auto& [pid, application] : applicationsOf(clients_)) result.emplace(pid, std::move(application.identity));
    return result;
}

std::vector<WorkspaceEvent> ClientTracker::update(Clients next) {
    const auto before = applicationsOf(clients_);
    const auto after = applicationsOf(next);
    clients_ = std::move(next);

    std::vector<WorkspaceEvent> events;
    for (const auto& [pid, was] : before) {
        const auto now = after.find(pid);
        if (now == after.end()) {
            events.push_back({WorkspaceNotification::didTerminateApplication, was.identity});
        } else if (now->second.hidden != was.hidden) {
            events.push_back({now->second.hidden ? WorkspaceNotification::didHideApplication
                                                 : WorkspaceNotification::didUnhideApplication,
                              now->second.identity});
        }
    }
    return events;
}

}  // namespace scene::x11
