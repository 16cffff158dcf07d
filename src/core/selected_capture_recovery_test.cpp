// Recovery of the selected display stream on the simulated desktop, in
// virtual time: stalls, stop outcomes and stream errors, seen in snapshots.
#include <gtest/gtest.h>

#include "core/scene_sampler.h"
#include "platform/manual_runtime.h"
#include "platform/simulated/scene_loader.h"
#include "platform/simulated/simulated_platform.h"

namespace scene {
namespace {

class SelectedCaptureRecoveryTest : public ::testing::Test {
protected:
    void start(const Json& stream, const Json& timeline = Json::array()) {
        const Json scene = {
            {"format", 1},
            {"applications", Json::array({{{"pid", 100}, {"bundleId", "com.example.editor"}}})},
            {"frontmost", 100},
            {"windows", Json::array({{{"pid", 100}, {"number", 7}, {"bounds", {100, 100, 600, 400}}}})},
            {"stream", stream},
            {"timeline", timeline},
        };
        auto loaded = simulated::loadScene(scene.dump(), "recovery.json", runtime, {4242, [] { return 1; }});
        ASSERT_TRUE(loaded.platform) << loaded.error;
        platform = std::move(loaded.platform);
        sampler = std::make_unique<SceneSampler>(Arguments{"scene-sampler", "--allow-screen-capture"},
                                                 Environment{}, *platform, runtime);
        sampler->start();
        runtime.streams().feed("capture-select\n");
    }
    Json snapshotAfter(double seconds) {
        runtime.advance(seconds);
        Json last;
        for (const std::string& line : runtime.streams().takeLines()) last = Json::parse(line);
        return last;
    }

    ManualRuntime runtime;
    std::unique_ptr<simulated::SimulatedPlatform> platform;
    std::unique_ptr<SceneSampler> sampler;
};

TEST_F(SelectedCaptureRecoveryTest, AStreamWithoutFramesIsReplaced) {
    start({{"deliver", false}});
    const Json starting = snapshotAfter(1.0);
    EXPECT_EQ(starting["captureSession"], "starting");
    EXPECT_EQ(starting["captureMetrics"]["streamCreations"], 1);
    // Twelve seconds without a first frame, the old stop, then a new stream 2 s later.
    const Json replaced = snapshotAfter(14.0);
    EXPECT_EQ(replaced["captureMetrics"]["transportReplacements"], 1);
    EXPECT_EQ(replaced["captureMetrics"]["streamCreations"], 2);
    EXPECT_EQ(replaced["captureMetrics"]["recoveryReason"], "start-without-frames");
    // Three replacements, then the session gives up.
    const Json exhausted = snapshotAfter(60.0);
    EXPECT_EQ(exhausted["captureSession"], "failed");
    EXPECT_EQ(exhausted["captureMetrics"]["recoveryReason"], "recovery-exhausted");
}

TEST_F(SelectedCaptureRecoveryTest, AStopThatHangsTimesOut) {
    start({{"deliver", false}, {"stop", "hangs"}});
    const Json timedOut = snapshotAfter(12.5 + 5.5);
    EXPECT_EQ(timedOut["captureMetrics"]["recoveryReason"], "transport-stop-timeout");
}

TEST_F(SelectedCaptureRecoveryTest, StreamErrorsEndOrRestartTheSelection) {
    start(Json::object(), Json::array({{{"at", 2.0}, {"do", "stream-error"}, {"code", -3817}}}));
    EXPECT_EQ(snapshotAfter(1.5)["captureSession"], "ready");
    const Json stopped = snapshotAfter(1.0);
    EXPECT_EQ(stopped["captureSession"], "stopped");
    EXPECT_TRUE(stopped["captureSelectedDisplay"].is_null());
    EXPECT_EQ(stopped["captureMetrics"]["errorCode"], -3817);
}

}  // namespace
}  // namespace scene
