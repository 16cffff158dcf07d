#pragma once

#include <deque>
#include <optional>

namespace scene::view {

// Snapshot lines per second over the last `window` seconds of arrivals, as the
// viewer sees them (pipe and parsing included). A plain value owned by the
// viewer's loop.
class SnapshotRate {
public:
    explicit SnapshotRate(double window = 2.0) : window_(window) {}

    void observe(double seconds);  // arrival time, monotonic seconds
    // Nothing until two arrivals span some time.
    std::optional<double> perSecond() const;

private:
    double window_;
    std::deque<double> arrivals_;
};

}  // namespace scene::view
