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
// while its readers hold on to frames. Any thread; create it with
// std::make_shared (returned storage finds the pool through a weak reference).
class PixelPool : public std::enable_shared_from_this<PixelPool> {
public:
    explicit PixelPool(std::size_t keep) : keep_(keep) {}

    // Storage of exactly `size` bytes, contents unspecified.
    std::shared_ptr<std::vector<std::uint8_t>> take(std::size_t size);
    std::size_t idle() const;

private:
    void give(std::vector<std::uint8_t>* storage);

    const std::size_t keep_;  // idle storages kept at most
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<std::vector<std::uint8_t>>> idle_;
};

}  // namespace scene
