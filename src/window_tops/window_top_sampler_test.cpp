#include "window_tops/window_top_sampler.h"

#include <gtest/gtest.h>

#include "capture_access/native_capture_access.h"
#include "platform/manual_runtime.h"

namespace scene {
namespace {

class WindowTopSamplerTest : public ::testing::Test {
protected:
    ManualRuntime runtime;
    WindowTopSampler sampler{runtime.clock()};
};

TEST_F(WindowTopSamplerTest, OneShotSampleResetsEveryCall) {
    EXPECT_EQ(sampler.status, "starting");
    NativeCaptureAccess once({"sampler", "--once"}, {});
    for (int call = 1; call <= 2; ++call) {
        sampler.sample({}, {}, std::nullopt, once);
        EXPECT_EQ(sampler.status, "capture-disabled");
        EXPECT_EQ(sampler.storage.status, "capture-disabled");
        EXPECT_EQ(sampler.generation, call);
    }

    NativeCaptureAccess live({"sampler", "--allow-screen-capture"}, {});
    live.selectedAvailable = [] { return true; };
    live.selectedStatus = [] { return std::string("ready"); };
    sampler.sample({}, {}, std::nullopt, live);
    EXPECT_EQ(sampler.generation, 2) << "granted capture leaves the sampler alone";
}

TEST_F(WindowTopSamplerTest, ResetEmptiesStoreAndPendingOwners) {
    sampler.pendingOwners = {"412:8731"};
    sampler.storage.latest = {Json{{"ownerId", "412:8731"}}};
    sampler.reset("selection-changed");
    EXPECT_EQ(sampler.generation, 1);
    EXPECT_EQ(sampler.storage.generation, 1);
    EXPECT_EQ(sampler.status, "selection-changed");
    EXPECT_TRUE(sampler.storage.latest.empty());
    EXPECT_TRUE(sampler.pendingOwners.empty());
}

}  // namespace
}  // namespace scene
