#include "platform/simulated/gated_queue.h"

#include <utility>

namespace scene::simulated {

void GatedQueue::post(Task task) {
    std::lock_guard lock(mutex_);
    if (target_ != nullptr) target_->post(std::move(task));
}

void GatedQueue::postAfter(double seconds, Task task) {
    std::lock_guard lock(mutex_);
    if (target_ != nullptr) target_->postAfter(seconds, std::move(task));
}

void GatedQueue::close() {
    std::lock_guard lock(mutex_);
    target_ = nullptr;
}

}  // namespace scene::simulated
