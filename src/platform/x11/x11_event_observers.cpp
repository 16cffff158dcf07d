#include "platform/x11/x11_event_observers.h"

#include <vector>

namespace scene::x11 {

ObserverToken WorkspaceObservers::add(WorkspaceNotification name, Handler handler) {
    std::lock_guard lock(mutex_);
    const ObserverToken token = nextToken_++;
    entries_.emplace(token, Entry{name, std::make_shared<const Handler>(std::move(handler))});
    return token;
}

void WorkspaceObservers::remove(ObserverToken token) {
    std::lock_guard lock(mutex_);
    entries_.erase(token);
}

void WorkspaceObservers::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

void WorkspaceObservers::deliver(const WorkspaceEvent& event) {
    std::vector<ObserverToken> tokens;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [token, entry] : entries_)
            if (entry.name == event.name) tokens.push_back(token);
    }
    // Handlers run without the lock: they may add and remove observers.
    for (const ObserverToken token : tokens) {
        std::shared_ptr<const Handler> handler;
        {
            std::lock_guard lock(mutex_);
            const auto it = entries_.find(token);
            if (it == entries_.end()) continue;
            handler = it->second.handler;
        }
        (*handler)(event);
    }
}

}  // namespace scene::x11
