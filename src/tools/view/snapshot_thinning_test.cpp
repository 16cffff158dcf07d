#include "tools/view/snapshot_thinning.h"

#include <gtest/gtest.h>

namespace scene::view {
namespace {

int admitted(SnapshotThinning& thinning, double period, double seconds, double start = 0) {
    int count = 0;
    for (double t = start; t < start + seconds; t += period) count += thinning.admit(t);
    return count;
}

TEST(SnapshotThinningTest, PassesTheSamplersPaceAndCapsAFasterOne) {
    SnapshotThinning thinning(30);
    // The sampler's 33 ms period is a hair above thirty a second: nearly all
    // pass, where a strict minimum gap would pass every other one.
    EXPECT_GE(admitted(thinning, 0.033, 10), 299);
    // Ten a second ("rate 100"): every one.
    EXPECT_EQ(admitted(thinning, 0.1, 10, 20), 100);
    // A burst of a hundred a second: thirty a second and the bucket's two.
    EXPECT_LE(admitted(thinning, 0.01, 10, 40), 302);
    EXPECT_GE(admitted(thinning, 0.01, 10, 60), 298);
}

}  // namespace
}  // namespace scene::view
