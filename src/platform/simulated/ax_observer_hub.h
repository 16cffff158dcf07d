#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/accessibility.h"
#include "platform/simulated/ax_node.h"
#include "platform/simulated/desktop_effects.h"

namespace scene::simulated {

// The simulated desktop's focus observers: for each, its process, callback,
// the notifications it registered (with the element it registered them on)
// and whether it is attached to the main loop. Owned by the accessibility
// service and held weakly by the observers and by queued deliveries, so either
// side may go first. Registration from any thread; delivery on the main queue.
class AXObserverHub {
public:
    using Id = std::uint64_t;

    Id add(std::int32_t pid, AXObserverCallback callback);
    void remove(Id id);
    // False when the observer already listens to this notification.
    bool listen(Id id, std::string_view notification, const Element& element);
    void setAttached(Id id, bool attached);

    // Calls every attached observer of the notice's process that listens to
    // it, with the newly focused element, or with the element the observer
    // registered on when the application has none. Main queue; no lock is
    // held while a callback runs, and each observer is checked again just
    // before its call, so a callback may remove or detach the others.
    void deliver(const AccessibilityNotice& notice, const AXNodePtr& focused);

private:
    struct Entry {
        std::int32_t pid = 0;
        AXObserverCallback callback;
        std::map<std::string, Element, std::less<>> notifications;
        bool attached = false;
    };

    std::mutex mutex_;
    std::map<Id, Entry> entries_;
    Id nextId_ = 1;
};

}  // namespace scene::simulated
