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

private:
    struct Observer {
        WorkspaceNotification name;
        Handler handler;
    };

    void deliver(DesktopEffects effects);
    // On the main queue. Observers removed before the task runs are not called.
    void notify(const WorkspaceEvent& event);

    mutable std::mutex mutex_;
    DesktopModel model_;
    mutable std::shared_ptr<const Json> windowList_;
    mutable bool windowListCurrent_ = false;
    Runtime& runtime_;

    std::mutex observersMutex_;
    std::map<ObserverToken, Observer> observers_;
    ObserverToken nextToken_ = 1;
};

}  // namespace scene::simulated
