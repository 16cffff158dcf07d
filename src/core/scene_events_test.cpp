// Workspace notifications and the accessibility focus watch, in virtual time.
#include <gtest/gtest.h>

#include "core/scene_sampler.h"
#include "platform/manual_runtime.h"
#include "platform/simulated/scene_loader.h"
#include "platform/simulated/simulated_platform.h"

namespace scene {
namespace {

constexpr const char* kDesktop = R"({
  "format": 1,
  "applications": [
    {"pid": 100, "bundleId": "com.example.editor"},
    {"pid": 200, "bundleId": "com.example.browser"},
    {"pid": 300, "bundleId": "com.example.companion-helper"}
  ],
  "frontmost": 100,
  "windows": [
    {"pid": 100, "number": 7, "bounds": [100, 100, 600, 400],
     "ax": {"id": "editor", "children": [{"id": "field", "role": "AXTextField", "frame": [10, 40, 200, 24]}]}},
    {"pid": 100, "number": 8, "bounds": [150, 150, 400, 300], "ax": {"id": "palette"}},
    {"pid": 200, "number": 9, "bounds": [300, 200, 700, 500], "ax": {"id": "page"}}
  ]
})";

class SceneEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto loaded = simulated::loadScene(kDesktop, "events.json", runtime, {4242, [] { return 1; }});
        ASSERT_TRUE(loaded.platform) << loaded.error;
        platform = std::move(loaded.platform);
        sampler = std::make_unique<SceneSampler>(Arguments{"scene-sampler", "300"}, Environment{}, *platform, runtime);
        sampler->start();
        runtime.advance(0.5);  // settled: front application and focus known, transitions over
        runtime.streams().takeLines();
    }
    // Applies a timeline action and runs what it causes, without a timer tick.
    std::size_t linesAfter(const Json& action) {
        EXPECT_EQ(platform->apply(action), "");
        runtime.runUntilIdle();
        return runtime.streams().takeLines().size();
    }

    ManualRuntime runtime;
    std::unique_ptr<simulated::SimulatedPlatform> platform;
    std::unique_ptr<SceneSampler> sampler;
};

TEST_F(SceneEventsTest, ApplicationNotificationsRunAPass) {
    ASSERT_EQ(sampler->state.frontPID, 100);
    const std::int64_t revision = sampler->state.revision;

    // The companion's own process coming forward changes nothing, not even a pass.
    sampler->state.axFocusedID = "100:7";
    EXPECT_EQ(linesAfter({{"do", "launch"}, {"pid", 300}}), 0u);
    EXPECT_EQ(linesAfter({{"do", "activate"}, {"pid", 300}}), 0u);
    EXPECT_EQ(sampler->state.axFocusedID, "100:7");

    // A background application hiding: a pass, and the walk's focus stands.
    EXPECT_EQ(linesAfter({{"do", "hide"}, {"pid", 200}}), 1u);
    EXPECT_EQ(sampler->state.axFocusedID, "100:7");
    EXPECT_EQ(linesAfter({{"do", "unhide"}, {"pid", 200}}), 1u);
    EXPECT_EQ(sampler->state.axFocusedID, "100:7");

    // The front application hiding clears it.
    EXPECT_EQ(linesAfter({{"do", "hide"}, {"pid", 100}}), 1u);
    EXPECT_FALSE(sampler->state.axFocusedID.has_value());
    EXPECT_EQ(sampler->state.revision, revision + 1);  // the focus moved away with the windows

    // Activation always clears it and lets the pass follow the new front.
    sampler->state.axFocusedID = "100:7";
    EXPECT_EQ(linesAfter({{"do", "activate"}, {"pid", 200}}), 1u);
    EXPECT_FALSE(sampler->state.axFocusedID.has_value());
    EXPECT_EQ(sampler->state.frontPID, 200);
    EXPECT_EQ(sampler->state.focusedID, "200:9");
}

TEST_F(SceneEventsTest, FocusWatchFollowsTheFrontApplication) {
    runtime.streams().feed("controls-on\n");
    runtime.advance(0.034);
    runtime.streams().takeLines();
    ASSERT_EQ(sampler->state.observedPID, 100);
    ASSERT_TRUE(sampler->state.focusObserver);

    // A focused window change of the front application runs a pass at once, and
    // that pass walks the controls at once, inside the usual walk spacing.
    const double recent = runtime.now() - 0.05;
    sampler->controlSampler.lastStarted = recent;
    EXPECT_EQ(linesAfter({{"do", "focus-window"}, {"pid", 100}, {"window", "100:8"}}), 1u);
    EXPECT_EQ(sampler->controlSampler.lastStarted, runtime.now());

    // A focused element change only clears the walk spacing; the next tick walks.
    sampler->controlSampler.lastStarted = runtime.now();
    EXPECT_EQ(linesAfter({{"do", "focus-element"}, {"pid", 100}, {"element", "field"}}), 0u);
    EXPECT_EQ(sampler->controlSampler.lastStarted, 0);

    // Notifications of a process that is no longer in front are ignored.
    sampler->state.frontPID = 200;
    sampler->controlSampler.lastStarted = runtime.now();
    EXPECT_EQ(linesAfter({{"do", "focus-window"}, {"pid", 100}, {"window", "100:7"}}), 0u);
    EXPECT_NE(sampler->controlSampler.lastStarted, 0);

    // Turning controls off removes the watch; on again re-arms it for the same process.
    runtime.streams().feed("controls-off\n");
    runtime.runUntilIdle();
    EXPECT_FALSE(sampler->state.focusObserver);
    EXPECT_EQ(sampler->state.observedPID, 0);
}

}  // namespace
}  // namespace scene
