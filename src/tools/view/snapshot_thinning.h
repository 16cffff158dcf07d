#pragma once

namespace scene::view {

// Lets through at most `perSecond` snapshots a second on average, and every
// snapshot of a sampler that is slower than that. A bucket of two: the
// sampler's 33 ms period is a hair faster than thirty a second, and a bucket
// of one would turn every arrival a fraction early into a drop, halving the
// rate, where this drops one in a hundred. A plain value owned by the live
// view's loop.
class SnapshotThinning {
public:
    explicit SnapshotThinning(double perSecond) : perSecond_(perSecond) {}

    // `now`: the arrival time, monotonic seconds.
    bool admit(double now);

private:
    static constexpr double kBurst = 2;
    double perSecond_;
    double tokens_ = kBurst;
    double last_ = 0;
    bool started_ = false;
};

}  // namespace scene::view
