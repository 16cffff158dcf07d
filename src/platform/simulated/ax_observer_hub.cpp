#include "platform/simulated/ax_observer_hub.h"

#include <optional>
#include <utility>
#include <vector>

namespace scene::simulated {

AXObserverHub::Id AXObserverHub::add(std::int32_t pid, AXObserverCallback callback) {
    std::lock_guard lock(mutex_);
    const Id id = nextId_++;
    entries_.emplace(id, Entry{pid, std::move(callback), {}, false});
    return id;
}

void AXObserverHub::remove(Id id) {
    std::lock_guard lock(mutex_);
    entries_.erase(id);
}

bool AXObserverHub::listen(Id id, std::string_view notification, const Element& element) {
    std::lock_guard lock(mutex_);
    const auto entry = entries_.find(id);
    if (entry == entries_.end()) return false;
    return entry->second.notifications.emplace(std::string(notification), element).second;
}

void AXObserverHub::setAttached(Id id, bool attached) {
    std::lock_guard lock(mutex_);
    const auto entry = entries_.find(id);
    if (entry != entries_.end()) entry->second.attached = attached;
}

void AXObserverHub::deliver(const AccessibilityNotice& notice, const AXNodePtr& focused) {
    std::vector<Id> ids;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, entry] : entries_) {
            if (entry.pid == notice.pid) ids.push_back(id);
        }
    }
    for (const Id id : ids) {
        AXObserverCallback callback;
        Element element;
        {
            std::lock_guard lock(mutex_);
            const auto entry = entries_.find(id);
            if (entry == entries_.end() || !entry->second.attached) continue;
            const auto registered = entry->second.notifications.find(notice.notification);
            if (registered == entry->second.notifications.end()) continue;
            // A copy: the callback may destroy its own observer while it runs.
            callback = entry->second.callback;
            element = focused ? Element(focused) : registered->second;
        }
        if (callback) callback(element, notice.notification);
    }
}

}  // namespace scene::simulated
