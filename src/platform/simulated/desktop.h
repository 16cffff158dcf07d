#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/runtime.h"
#include "platform/simulated/desktop_effects.h"
#include "platform/simulated/desktop_model.h"
#include "platform/simulated/scene_action.h"
#include "platform/workspace.h"

namespace scene::simulated {

// The live desktop: the model behind one lock, and the workspace observers.
// Shared by the platform's services, which read it from any thread, and by the
// timeline's tasks on the main queue, which change it (tests may change it from
// their own thread). Nothing is called out while the lock is held: what a
// change announces is delivered afterwards, workspace notifications as tasks
// on the main queue. Create it with std::make_shared: queued deliveries hold
// it weakly.
class Desktop : public std::enable_shared_from_this<Desktop> {
public:
    using Handler = std::function<void(const WorkspaceEvent&)>;
    // `focused`: what has the focus as of the change; none when the
    // application has nothing focused.
    using AccessibilityHandler = std::function<void(const AccessibilityNotice&, const AXNodePtr& focused)>;

    Desktop(DesktopModel model, Runtime& runtime);

    template <typename Read>
    auto read(Read&& reader) const {
        std::lock_guard lock(mutex_);
        return reader(model_);
    }

    DesktopModel copy() const;
    void apply(const SceneAction& action);
    // The window list as the window server hands it out; built once per change
    // of the desktop and shared until the next one.
    std::shared_ptr<const Json> windowList() const;

    ObserverToken addObserver(WorkspaceNotification name, Handler handler);
    void removeObserver(ObserverToken token);
    // Focus changes, on the main queue, for the accessibility service to hand
    // to its observers.
    ObserverToken addAccessibilityObserver(AccessibilityHandler handler);
    void removeAccessibilityObserver(ObserverToken token);

    // How the capture service hears of the timeline's `stream` and
    // `stream-error` actions: called on the thread that applied the action,
    // after the lock is released. One listener; an empty one removes it.
    struct CaptureListener {
        std::function<void()> streamSettingsChanged;
        std::function<void(const PlatformError&)> streamError;
    };
    void setCaptureListener(CaptureListener listener);

private:
    struct Observer {
        WorkspaceNotification name;
        Handler handler;
    };

    void deliver(DesktopEffects effects);
    // Focus notices go out before the other effects, each with its element.
    void deliverFocus(const std::vector<AccessibilityNotice>& notices, std::vector<AXNodePtr> focused);
    // On the main queue. Observers removed before the task runs are not called.
    void notify(const WorkspaceEvent& event);
    void notifyAccessibility(const AccessibilityNotice& notice, const AXNodePtr& focused);

    mutable std::mutex mutex_;
    DesktopModel model_;
    mutable std::shared_ptr<const Json> windowList_;
    mutable bool windowListCurrent_ = false;
    Runtime& runtime_;

    std::mutex observersMutex_;
    std::map<ObserverToken, Observer> observers_;
    std::map<ObserverToken, AccessibilityHandler> accessibilityObservers_;
    ObserverToken nextToken_ = 1;

    std::mutex captureMutex_;
    CaptureListener captureListener_;
};

}  // namespace scene::simulated
