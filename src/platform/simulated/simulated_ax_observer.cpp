#include "platform/simulated/simulated_ax_observer.h"

#include <utility>

#include "platform/simulated/ax_node.h"

namespace scene::simulated {

namespace {

// Result codes only the observer gives.
constexpr int kNotificationUnsupported = -25207;
constexpr int kNotificationAlreadyRegistered = -25209;

}  // namespace

SimulatedAXObserver::SimulatedAXObserver(const std::shared_ptr<AXObserverHub>& hub, std::int32_t pid,
                                         AXObserverCallback callback)
    : hub_(hub), pid_(pid), id_(hub->add(pid, std::move(callback))) {}

SimulatedAXObserver::~SimulatedAXObserver() {
    if (const auto hub = hub_.lock()) hub->remove(id_);
}

int SimulatedAXObserver::addNotification(const Element& element, std::string_view notification) {
    // The simulated applications announce only focus changes, and only on
    // their application element.
    const auto* application = dynamic_cast<const ApplicationElementNode*>(element.node());
    if (application == nullptr || application->pid != pid_) return ax_error::illegalArgument;
    if (notification != kFocusedWindowChanged && notification != kFocusedUIElementChanged)
        return kNotificationUnsupported;
    const auto hub = hub_.lock();
    if (!hub) return ax_error::cannotComplete;
    return hub->listen(id_, notification, element) ? ax_error::success : kNotificationAlreadyRegistered;
}

void SimulatedAXObserver::attachToMainLoop() {
    if (const auto hub = hub_.lock()) hub->setAttached(id_, true);
}

void SimulatedAXObserver::detachFromMainLoop() {
    if (const auto hub = hub_.lock()) hub->setAttached(id_, false);
}

}  // namespace scene::simulated
