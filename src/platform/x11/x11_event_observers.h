#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/workspace.h"

namespace scene::x11 {

// The workspace's notification observers. Adding and removing are safe on any
// thread; `deliver` runs on the main queue and looks every handler up again
// right before calling it, so a handler removed on the main queue (even by
// another handler of the same event) never runs afterwards, whatever events
// were already on their way.
class WorkspaceObservers {
public:
    using Handler = std::function<void(const WorkspaceEvent&)>;

    ObserverToken add(WorkspaceNotification name, Handler handler);
    void remove(ObserverToken token);
    void clear();
    void deliver(const WorkspaceEvent& event);

private:
    struct Entry {
        WorkspaceNotification name = WorkspaceNotification::didActivateApplication;
        std::shared_ptr<const Handler> handler;
    };

    std::mutex mutex_;
    std::map<ObserverToken, Entry> entries_;  // tokens grow, so map order is adding order
    ObserverToken nextToken_ = 1;
};

}  // namespace scene::x11
