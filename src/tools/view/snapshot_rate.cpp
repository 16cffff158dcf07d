#include "tools/view/snapshot_rate.h"

namespace scene::view {

void SnapshotRate::observe(double seconds) {
    arrivals_.push_back(seconds);
    while (arrivals_.size() > 2 && seconds - arrivals_.front() > window_) arrivals_.pop_front();
}

std::optional<double> SnapshotRate::perSecond() const {
    if (arrivals_.size() < 2) return std::nullopt;
    const double span = arrivals_.back() - arrivals_.front();
    if (span <= 0) return std::nullopt;
    return static_cast<double>(arrivals_.size() - 1) / span;
}

}  // namespace scene::view
