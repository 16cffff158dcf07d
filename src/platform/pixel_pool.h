#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace scene {

// Recycles frame-sized pixel storage. A frame's bytes go out shared with its
// sample buffer; when the last holder lets go, on whatever thread, the storage
// comes back here instead of being freed, so a steady stream allocates only
// while its readers hold on to frames. The pool keeps no more than `keep`
// storages in all, lent and idle: one that a reader held across the next
// frame is freed as it comes back, so a burst does not stay resident for good.
// Idle storage keeps its address range but hands its pages back to the
// system, so a steady stream is resident only in the frames someone holds;
// taking it again faults its pages in, all in one call, not a new mapping.
// Storage that is out belongs to its holders, not to the pool: it finds the
// pool through a weak reference and is freed where it is let go once the pool
// is gone, so neither keeping fewer nor the pool's end can free bytes that
// someone still reads. Any thread; create it with std::make_shared.
class PixelPool : public std::enable_shared_from_this<PixelPool> {
public:
    explicit PixelPool(std::size_t keep) : keep_(keep) {}

    // Storage of exactly `size` bytes, contents unspecified (idle storage
    // comes back with pages of zeros).
    std::shared_ptr<std::vector<std::uint8_t>> take(std::size_t size);
    // From now on at most `keep` storages are kept in all: idle ones beyond
    // that are freed at once, and storage coming back beyond it as it comes.
    // An owner that will not take again for a while (a stream that stopped)
    // sets 0.
    void setKeep(std::size_t keep);
    std::size_t idle() const;

private:
    using Storage = std::unique_ptr<std::vector<std::uint8_t>>;

    void give(std::vector<std::uint8_t>* storage);

    mutable std::mutex mutex_;
    std::size_t keep_;      // storages kept at most, lent and idle
    std::size_t lent_ = 0;  // taken and not yet back
    std::vector<Storage> idle_;
};

}  // namespace scene
