#include "platform/simulated/desktop.h"

#include <utility>
#include <vector>

#include "platform/simulated/apply_action.h"

namespace scene::simulated {

Desktop::Desktop(DesktopModel model, Runtime& runtime) : model_(std::move(model)), runtime_(runtime) {}

DesktopModel Desktop::copy() const {
    std::lock_guard lock(mutex_);
    return model_;
}

void Desktop::apply(const SceneAction& action) {
    DesktopEffects effects;
    {
        std::lock_guard lock(mutex_);
        effects = applyAction(model_, action);
        windowListCurrent_ = false;
    }
    deliver(std::move(effects));
}

std::shared_ptr<const Json> Desktop::windowList() const {
    std::lock_guard lock(mutex_);
    if (!windowListCurrent_) {
        auto list = model_.copyWindowList();
        windowList_ = list ? std::make_shared<const Json>(std::move(*list)) : nullptr;
        windowListCurrent_ = true;
    }
    return windowList_;
}

ObserverToken Desktop::addObserver(WorkspaceNotification name, Handler handler) {
    std::lock_guard lock(observersMutex_);
    const ObserverToken token = nextToken_++;
    observers_.emplace(token, Observer{name, std::move(handler)});
    return token;
}

void Desktop::removeObserver(ObserverToken token) {
    std::lock_guard lock(observersMutex_);
    observers_.erase(token);
}

void Desktop::deliver(DesktopEffects effects) {
    for (auto& event : effects.workspaceEvents) {
        runtime_.mainQueue().post([weak = weak_from_this(), event = std::move(event)] {
            if (const auto desktop = weak.lock()) desktop->notify(event);
        });
    }
    // Focus notices and stream errors change nothing outside the model yet:
    // accessibility observers and capture streams take them from here once
    // they exist.
}

void Desktop::notify(const WorkspaceEvent& event) {
    std::vector<Handler> handlers;
    {
        std::lock_guard lock(observersMutex_);
        for (const auto& [token, observer] : observers_) {
            if (observer.name == event.name) handlers.push_back(observer.handler);
        }
    }
    for (const auto& handler : handlers) handler(event);
}

}  // namespace scene::simulated
