#include "platform/pixel_pool.h"

#include <utility>

namespace scene {

std::shared_ptr<std::vector<std::uint8_t>> PixelPool::take(std::size_t size) {
    Storage storage;
    {
        std::lock_guard lock(mutex_);
        ++lent_;
        for (auto it = idle_.begin(); it != idle_.end(); ++it) {
            if ((*it)->size() != size) continue;
            storage = std::move(*it);
            idle_.erase(it);
            break;
        }
    }
    if (!storage) storage = std::make_unique<std::vector<std::uint8_t>>(size);
    return {storage.release(), [pool = weak_from_this()](std::vector<std::uint8_t>* returned) {
                if (const auto owner = pool.lock()) {
                    owner->give(returned);
                } else {
                    delete returned;
                }
            }};
}

void PixelPool::setKeep(std::size_t keep) {
    // Freed after the lock is let go: unmapping tens of megabytes takes a
    // while, and frames coming back on other threads need not wait for it.
    std::vector<Storage> surplus;
    std::lock_guard lock(mutex_);
    keep_ = keep;
    while (!idle_.empty() && lent_ + idle_.size() > keep_) {
        surplus.push_back(std::move(idle_.back()));
        idle_.pop_back();
    }
}

std::size_t PixelPool::idle() const {
    std::lock_guard lock(mutex_);
    return idle_.size();
}

void PixelPool::give(std::vector<std::uint8_t>* storage) {
    // Declared before the lock, so that storage not kept is freed outside it.
    Storage owned(storage);
    std::vector<Storage> stale;
    std::lock_guard lock(mutex_);
    --lent_;
    // A new frame size makes the old storages useless: keep the newest.
    if (!idle_.empty() && idle_.front()->size() != owned->size()) stale.swap(idle_);
    if (lent_ + idle_.size() < keep_) idle_.push_back(std::move(owned));
}

}  // namespace scene
