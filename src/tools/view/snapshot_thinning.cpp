#include "tools/view/snapshot_thinning.h"

#include <algorithm>

namespace scene::view {

bool SnapshotThinning::admit(double now) {
    if (started_) tokens_ = std::min(kBurst, tokens_ + std::max(0.0, now - last_) * perSecond_);
    started_ = true;
    last_ = now;
    if (tokens_ < 1) return false;
    tokens_ -= 1;
    return true;
}

}  // namespace scene::view
