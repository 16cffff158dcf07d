#include "tools/view/snapshot_rate.h"

#include <gtest/gtest.h>

namespace scene::view {
namespace {

TEST(SnapshotRateTest, CountsIntervalsOverTheRecentWindowOnly) {
    SnapshotRate rate(2.0);
    EXPECT_FALSE(rate.perSecond());
    rate.observe(0.0);
    EXPECT_FALSE(rate.perSecond());
    rate.observe(0.0);
    EXPECT_FALSE(rate.perSecond()) << "two arrivals at once span no time";

    // Thirty a second for three seconds after a one-second stall: the stall
    // has left the window, so the rate is the recent one.
    for (int i = 0; i <= 90; ++i) rate.observe(1.0 + i / 30.0);
    ASSERT_TRUE(rate.perSecond());
    EXPECT_NEAR(*rate.perSecond(), 30.0, 1e-9);
}

}  // namespace
}  // namespace scene::view
