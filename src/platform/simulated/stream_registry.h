#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform_error.h"

namespace scene::simulated {

class SimulatedStream;

// The streams the simulated capture service has handed out, held weakly, so
// that the timeline's `stream` and `stream-error` actions reach the live ones.
// The primary stream is the most recently started one that still runs. Never
// calls a stream while holding its own lock. Any thread.
class StreamRegistry {
public:
    void add(const std::shared_ptr<SimulatedStream>& stream);
    // Numbers starts, in order, across all streams.
    std::uint64_t nextStart() { return ++starts_; }

    std::shared_ptr<SimulatedStream> primary() const;
    std::vector<std::shared_ptr<SimulatedStream>> live() const;

    void settingsChanged() const;
    // Stops the primary stream with `error`; nothing when no stream runs.
    void streamError(const PlatformError& error) const;

private:
    mutable std::mutex mutex_;
    mutable std::vector<std::weak_ptr<SimulatedStream>> streams_;
    std::atomic<std::uint64_t> starts_{0};
};

}  // namespace scene::simulated
