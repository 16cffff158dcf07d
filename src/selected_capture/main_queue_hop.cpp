#include "selected_capture/main_queue_hop.h"

#include <utility>

namespace scene {

Task MainQueueHop::guarded(Task task) {
    return [self = shared_from_this(), task = std::move(task)] {
        if (self->isOpen()) task();
    };
}

void MainQueueHop::post(Task task) {
    const std::lock_guard lock(mutex_);
    if (open_) mainQueue_.post(guarded(std::move(task)));
}

void MainQueueHop::postAfter(double seconds, Task task) {
    const std::lock_guard lock(mutex_);
    if (open_) mainQueue_.postAfter(seconds, guarded(std::move(task)));
}

bool MainQueueHop::isOpen() const {
    const std::lock_guard lock(mutex_);
    return open_;
}

void MainQueueHop::close() {
    const std::lock_guard lock(mutex_);
    open_ = false;
}

}  // namespace scene
