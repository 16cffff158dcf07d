#include "platform/simulated/desktop.h"

#include <utility>
#include <variant>
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
    std::vector<AXNodePtr> focused;
    {
        std::lock_guard lock(mutex_);
        effects = applyAction(model_, action);
        effects.streamSettingsChanged = std::holds_alternative<action::SetStream>(action);
        // Observers hear which element has the focus as of this change, not
        // as of whenever their delivery runs.
        for (const auto& notice : effects.accessibilityNotices) {
            focused.push_back(notice.notification == kFocusedWindowChanged ? model_.focusedWindowElement(notice.pid)
                                                                           : model_.focusedElement(notice.pid));
        }
        windowListCurrent_ = false;
    }
    deliverFocus(effects.accessibilityNotices, std::move(focused));
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

ObserverToken Desktop::addAccessibilityObserver(AccessibilityHandler handler) {
    std::lock_guard lock(observersMutex_);
    const ObserverToken token = nextToken_++;
    accessibilityObservers_.emplace(token, std::move(handler));
    return token;
}

void Desktop::removeAccessibilityObserver(ObserverToken token) {
    std::lock_guard lock(observersMutex_);
    accessibilityObservers_.erase(token);
}

void Desktop::deliverFocus(const std::vector<AccessibilityNotice>& notices, std::vector<AXNodePtr> focused) {
    for (std::size_t i = 0; i < notices.size(); ++i) {
        runtime_.mainQueue().post([weak = weak_from_this(), notice = notices[i], element = std::move(focused[i])] {
            if (const auto desktop = weak.lock()) desktop->notifyAccessibility(notice, element);
        });
    }
}

void Desktop::deliver(DesktopEffects effects) {
    for (auto& event : effects.workspaceEvents) {
        runtime_.mainQueue().post([weak = weak_from_this(), event = std::move(event)] {
            if (const auto desktop = weak.lock()) desktop->notify(event);
        });
    }
    if (!effects.streamSettingsChanged && effects.streamErrors.empty()) return;
    CaptureListener listener;
    {
        std::lock_guard lock(captureMutex_);
        listener = captureListener_;
    }
    if (effects.streamSettingsChanged && listener.streamSettingsChanged) listener.streamSettingsChanged();
    if (listener.streamError) {
        for (const auto& error : effects.streamErrors) listener.streamError(error);
    }
}

void Desktop::setCaptureListener(CaptureListener listener) {
    std::lock_guard lock(captureMutex_);
    captureListener_ = std::move(listener);
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

void Desktop::notifyAccessibility(const AccessibilityNotice& notice, const AXNodePtr& focused) {
    std::vector<AccessibilityHandler> handlers;
    {
        std::lock_guard lock(observersMutex_);
        for (const auto& [token, handler] : accessibilityObservers_) handlers.push_back(handler);
    }
    for (const auto& handler : handlers) handler(notice, focused);
}

}  // namespace scene::simulated
