#include "platform/pixel_pool.h"

namespace scene {

std::shared_ptr<std::vector<std::uint8_t>> PixelPool::take(std::size_t size) {
    std::unique_ptr<std::vector<std::uint8_t>> storage;
    {
        std::lock_guard lock(mutex_);
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

std::size_t PixelPool::idle() const {
    std::lock_guard lock(mutex_);
    return idle_.size();
}

void PixelPool::give(std::vector<std::uint8_t>* storage) {
    std::unique_ptr<std::vector<std::uint8_t>> owned(storage);
    std::lock_guard lock(mutex_);
    // A new frame size makes the old storages useless: keep the newest.
    if (!idle_.empty() && idle_.front()->size() != owned->size()) idle_.clear();
    if (idle_.size() < keep_) idle_.push_back(std::move(owned));
}

}  // namespace scene
