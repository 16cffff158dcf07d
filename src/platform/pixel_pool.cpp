#include "platform/pixel_pool.h"

#include <cstdint>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace scene {
namespace {

#if defined(__linux__)
// Gives `advice` for the whole pages of `unit` bytes inside the storage at
// `data`; the partial pages at either end, which the allocator may share,
// are left as they are.
void advise(const void* data, std::size_t size, std::uintptr_t unit, int advice) {
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + unit - 1) & ~(unit - 1);
    const std::uintptr_t last = (start + size) & ~(unit - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, advice);
}

std::uintptr_t pageSize() {
    static const auto kPage = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    return kPage;
}
#endif

// New storage is faulted in page by page as it is first written. In small
// pages the 30 MiB of a 4K frame take some 7,800 faults: 92 ms on this
// project's machine, against 12 ms in huge pages. A pool allocates anew
// whenever a reader holds a frame across the next one, and a new selection
// starts with none; huge pages keep that from costing a frame slot. The
// advice covers only the whole huge pages inside this storage; the kernel
// may refuse it, and then the pages come small.
std::unique_ptr<std::vector<std::uint8_t>> freshStorage(std::size_t size) {
    auto storage = std::make_unique<std::vector<std::uint8_t>>();
    storage->reserve(size);
#if defined(MADV_HUGEPAGE)
    advise(storage->data(), size, std::uintptr_t{2} << 20, MADV_HUGEPAGE);
#endif
    storage->resize(size);
    return storage;
}

// Hands the pages of idle storage back to the system; they read as zeros
// when next touched. Grabbing a 1920 x 1080 frame into storage released so
// costs some 1.3 ms more of CPU than into resident storage (2.1 against
// 0.75 ms on this project's machine, pages faulted in at once), against the
// 8 MiB (30 MiB at 4K) it would keep resident between frames.
void releasePages(std::vector<std::uint8_t>& storage) {
#if defined(MADV_DONTNEED)
    advise(storage.data(), storage.size(), pageSize(), MADV_DONTNEED);
#else
    (void)storage;
#endif
}

// Faults in the pages of storage taken again, in one call: it is about to be
// written whole, and a fault for each page on the way costs several times
// more (4K pages: some 2,000 of them for a 1920 x 1080 frame). Kernels
// without the advice leave the pages to the writer.
void populatePages(std::vector<std::uint8_t>& storage) {
#if defined(MADV_POPULATE_WRITE)
    advise(storage.data(), storage.size(), pageSize(), MADV_POPULATE_WRITE);
#else
    (void)storage;
#endif
}

}  // namespace

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
    if (storage) {
        populatePages(*storage);
    } else {
        storage = freshStorage(size);
    }
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
    // Before the lock too: once idle, another thread may take and fill it.
    releasePages(*owned);
    std::vector<Storage> stale;
    std::lock_guard lock(mutex_);
    --lent_;
    // A new frame size makes the old storages useless: keep the newest.
    if (!idle_.empty() && idle_.front()->size() != owned->size()) stale.swap(idle_);
    if (lent_ + idle_.size() < keep_) idle_.push_back(std::move(owned));
}

}  // namespace scene
