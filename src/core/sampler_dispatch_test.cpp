// The samplers driven by the pass on the simulated desktop, in virtual time:
// control walks and their completions, and visual edges from the selected
// display stream.
#include <gtest/gtest.h>

#include "core/scene_sampler.h"
#include "platform/manual_runtime.h"
#include "platform/simulated/scene_loader.h"
#include "platform/simulated/simulated_platform.h"

namespace scene {
namespace {

constexpr const char* kDesktop = R"({
  "format": 1,
  "displays": [{"id": 1, "bounds": [0, 0, 1440, 900]}],
  "applications": [{"pid": 100, "bundleId": "com.example.editor"}],
  "frontmost": 100,
  "windows": [
    {"pid": 100, "number": 7, "bounds": [100, 100, 600, 400], "titleBar": 28,
     "panels": [{"bounds": [20, 60, 260, 300], "fill": "#e0e0e0", "border": "#303030"},
                {"bounds": [320, 60, 260, 300], "fill": "#e0e0e0", "border": "#303030"}],
     "ax": {"children": [
       {"role": "AXButton", "frame": [10, 30, 80, 24]},
       {"role": "AXButton", "frame": [100, 30, 80, 24]},
       {"role": "AXButton", "frame": [190, 30, 40, 24]}
     ]}},
    {"pid": 100, "number": 8, "bounds": [800, 100, 300, 200], "ax": {"children": [
       {"role": "AXButton", "frame": [10, 30, 80, 24]}
     ]}}
  ]
})";

class SamplerDispatchTest : public ::testing::Test {
protected:
    void start(Arguments arguments) {
        auto loaded = simulated::loadScene(kDesktop, "dispatch.json", runtime, {4242, [] { return 1; }});
        ASSERT_TRUE(loaded.platform) << loaded.error;
        platform = std::move(loaded.platform);
        sampler = std::make_unique<SceneSampler>(arguments, Environment{}, *platform, runtime);
        sampler->start();
    }
    Json lastSnapshot() {
        Json last;
        for (const std::string& line : runtime.streams().takeLines()) {
            Json parsed = Json::parse(line);
            if (!parsed.contains("kind")) last = std::move(parsed);
        }
        return last;
    }

    ManualRuntime runtime;
    std::unique_ptr<simulated::SimulatedPlatform> platform;
    std::unique_ptr<SceneSampler> sampler;
};

TEST_F(SamplerDispatchTest, ControlsOfTheFocusedWindowArePublishedAndExpire) {
    start({"scene-sampler", "--controls"});
    runtime.advance(0.5);
    const Json snapshot = lastSnapshot();
    EXPECT_EQ(snapshot["accessibility"], "ready");
    ASSERT_EQ(snapshot["controls"].size(), 2u);  // the 40-point button is too narrow
    for (const Json& control : snapshot["controls"]) {
        EXPECT_EQ(control["windowId"], "100:7");
        EXPECT_EQ(control["id"].get<std::string>().rfind("100:7/ax-", 0), 0u);
    }

    // Without new walks, published controls live 0.55 s and no longer.
    const double published = sampler->state.controlsAt;
    sampler->controlSampler.lastStarted = runtime.now() + 100;
    runtime.advanceTo(published + 0.5);
    EXPECT_EQ(lastSnapshot()["controls"].size(), 2u);
    runtime.advanceTo(published + 0.6);
    EXPECT_TRUE(lastSnapshot()["controls"].empty());
}

TEST_F(SamplerDispatchTest, WalksOfAnOlderSceneAreIgnored) {
    start({"scene-sampler", "--controls"});
    runtime.advance(0.5);
    lastSnapshot();
    // A walk is under way when the scene changes: its result must not land.
    sampler->state.controls.clear();
    sampler->controlSampler.lastStarted = 0;
    sampler->sample();
    ASSERT_TRUE(sampler->controlSampler.busy);
    sampler->invalidateScene(false, 0.0);
    const std::string status = sampler->state.controlsStatus;
    runtime.runUntilIdle();
    EXPECT_TRUE(sampler->state.controls.empty());
    EXPECT_EQ(sampler->state.controlsStatus, status);
}

TEST_F(SamplerDispatchTest, AWalkNamingAnotherFocusedWindowMovesTheFocus) {
    start({"scene-sampler", "--controls"});
    runtime.advance(0.5);
    ASSERT_EQ(sampler->state.focusedID, "100:7");
    const std::int64_t revision = sampler->state.revision;
    ASSERT_EQ(platform->apply({{"do", "focus-window"}, {"pid", 100}, {"window", "100:8"}}), "");
    runtime.advance(0.3);
    EXPECT_EQ(sampler->state.focusedID, "100:8");
    EXPECT_EQ(sampler->state.axFocusedID, "100:8");
    EXPECT_GT(sampler->state.revision, revision);
    runtime.advance(0.5);
    const Json snapshot = lastSnapshot();
    EXPECT_EQ(snapshot["context"]["focusedWindowId"], "100:8");
    ASSERT_EQ(snapshot["controls"].size(), 1u);
    EXPECT_EQ(snapshot["controls"][0]["windowId"], "100:8");
}

TEST_F(SamplerDispatchTest, VisualEdgesComeFromTheSelectedStream) {
    start({"scene-sampler", "--visual", "--allow-screen-capture"});
    runtime.advance(0.2);
    EXPECT_EQ(lastSnapshot()["vision"], "capture-paused");
    runtime.streams().feed("capture-select\n");
    runtime.advance(3.0);
    const Json snapshot = lastSnapshot();
    EXPECT_EQ(snapshot["captureSession"], "ready");
    EXPECT_EQ(snapshot["vision"], "ready");
    ASSERT_FALSE(snapshot["visuals"].empty());
    for (const Json& edge : snapshot["visuals"]) {
        EXPECT_EQ(edge["id"].get<std::string>().rfind("visual:100:7:v", 0), 0u);
        EXPECT_EQ(edge["windowId"], "100:7");
    }
    EXPECT_EQ(snapshot["visualMetrics"]["edges"], snapshot["visuals"].size());
}

}  // namespace
}  // namespace scene
