// The process core in virtual time on a simulated desktop: the pass, the
// timer, commands, transitions and session safety.
#include "core/scene_sampler.h"

#include <gtest/gtest.h>

#include "core/command_reader.h"
#include "core/entry.h"
#include "platform/manual_runtime.h"
#include "platform/simulated/scene_loader.h"
#include "platform/simulated/simulated_platform.h"

namespace scene {
namespace {

constexpr const char* kDesktop = R"({
  "format": 1,
  "displays": [{"id": 1, "bounds": [0, 0, 1440, 900]}],
  "applications": [
    {"pid": 50, "bundleId": "com.apple.dock"},
    {"pid": 100, "bundleId": "com.example.editor"},
    {"pid": 200, "bundleId": "com.example.browser"},
    {"pid": 300, "bundleId": "app.vantu.companion"}
  ],
  "frontmost": 100,
  "windows": [
    {"pid": 300, "number": 1, "bounds": [600, 600, 80, 80]},
    {"pid": 100, "number": 7, "bounds": [100, 100, 600, 400], "titleBar": 28},
    {"pid": 200, "number": 9, "bounds": [300, 200, 700, 500]},
    {"pid": 50, "number": 2, "layer": 20, "bounds": [220, 820, 1000, 70]}
  ]
})";

class SceneSamplerTest : public ::testing::Test {
protected:
    void load(const std::string& text = kDesktop, Arguments arguments = {"scene-sampler"},
              Environment environment = {}) {
        auto loaded = simulated::loadScene(text, "test.json", runtime,
                                           simulated::ProcessFacts{4242, [this] { return parent; }});
        ASSERT_TRUE(loaded.platform) << loaded.error;
        platform = std::move(loaded.platform);
        sampler = std::make_unique<SceneSampler>(arguments, environment, *platform, runtime);
    }
    void apply(const Json& action) { ASSERT_EQ(platform->apply(action), ""); }

    std::vector<Json> snapshots() {
        std::vector<Json> parsed;
        for (const std::string& line : runtime.streams().takeLines()) parsed.push_back(Json::parse(line));
        return parsed;
    }
    Json lastSnapshot() {
        auto all = snapshots();
        return all.empty() ? Json() : all.back();
    }
    // Through standard input once the sampler reads it, else straight in.
    void command(const std::string& text) {
        if (runtime.streams().reading()) {
            runtime.streams().feed(text);
        } else {
            sampler->executeLines(reader.take(text));
        }
        runtime.runUntilIdle();
    }

    ManualRuntime runtime;
    CommandReader reader;  // cuts lines for a sampler that is not started
    std::int32_t parent = 1;
    std::unique_ptr<simulated::SimulatedPlatform> platform;
    std::unique_ptr<SceneSampler> sampler;
};

TEST_F(SceneSamplerTest, SnapshotHasTheTwentySevenKeysInOrder) {
    load();
    sampler->sample();
    const std::vector<std::string> lines = runtime.streams().takeLines();
    ASSERT_EQ(lines.size(), 1u);
    const Json snapshot = Json::parse(lines[0]);
    std::vector<std::string> keys;
    for (const auto& [key, value] : snapshot.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{
                        "accessibility", "captureAccess", "captureConsentID", "captureMetrics", "captureMode",
                        "capturePauseReason", "captureSelectedDisplay", "captureSession", "commandKey", "context",
                        "controls", "dockStatus", "docks", "inputRevision", "inputs", "notificationBackdropsIgnored",
                        "sessionSafe", "status", "supportMetrics", "supportProofs", "supportVerification",
                        "vision", "visualAgeMS", "visualMetrics", "visualTimestamp", "visuals", "windows"}));
    EXPECT_EQ(lines[0].substr(0, 17), R"({"accessibility":)");
    EXPECT_EQ(snapshot["status"], "ready");
    EXPECT_EQ(snapshot["context"].size(), 8u);
    EXPECT_EQ(snapshot["supportMetrics"].size(), 21u);
    EXPECT_EQ(snapshot["visualMetrics"].size(), 5u);
    EXPECT_EQ(snapshot["captureMetrics"].size(), 34u);  // directPixelRequests and the session's 33
    EXPECT_EQ(snapshot["inputRevision"], "0:0:0:0:0:0");
    EXPECT_EQ(snapshot["capturePauseReason"], "");
    EXPECT_EQ(snapshot["visualTimestamp"], 0.0);
    EXPECT_DOUBLE_EQ(snapshot["visualAgeMS"].get<double>(), runtime.now() * 1000);
    EXPECT_TRUE(snapshot["context"]["focusedWindowId"].is_string());
}

TEST_F(SceneSamplerTest, WindowRecordsFrontApplicationAndFocus) {
    load();
    sampler->sample();
    const Json snapshot = lastSnapshot();
    std::vector<std::string> ids;
    for (const Json& window : snapshot["windows"]) ids.push_back(window["id"]);
    // The companion's own window is left out; the Dock shelf is an ordinary record.
    EXPECT_EQ(ids, (std::vector<std::string>{"100:7", "200:9", "50:2"}));
    EXPECT_EQ(snapshot["context"]["frontPID"], 100);
    EXPECT_EQ(snapshot["context"]["focusedWindowId"], "100:7");
    // Front application and focus both changed: two invalidations.
    EXPECT_EQ(snapshot["context"]["revision"], 2);
    EXPECT_EQ(snapshot["context"]["transitioning"], true);
    EXPECT_EQ(snapshot["sessionSafe"], true);
    EXPECT_EQ(sampler->sceneKey(), "2:100:100:7");
}

TEST_F(SceneSamplerTest, ExcludedOrOwnFrontApplicationKeepsTheScene) {
    load(kDesktop, {"scene-sampler", "200"});
    sampler->sample();
    const std::int64_t revision = sampler->state.revision;
    apply({{"do", "activate"}, {"pid", 200}});
    runtime.runUntilIdle();
    sampler->sample();
    EXPECT_EQ(sampler->state.frontPID, 100);
    EXPECT_EQ(sampler->state.revision, revision);
    EXPECT_EQ(sampler->state.focusedID, "100:7");
}

TEST_F(SceneSamplerTest, TimerWritesAboutThirtyLinesASecondAndRateChangesIt) {
    load();
    sampler->start();
    runtime.advance(1.0);
    // Ticks at 0, 33 ms, ..., 990 ms.
    EXPECT_EQ(runtime.streams().takeLines().size(), 31u);

    command("rate 100\n");
    runtime.advance(0.099);
    EXPECT_TRUE(runtime.streams().takeLines().empty());
    runtime.advance(0.901);
    EXPECT_EQ(runtime.streams().takeLines().size(), 10u);

    command("rate 10\n");  // clamped to 33 ms
    runtime.advance(0.33);
    EXPECT_EQ(runtime.streams().takeLines().size(), 10u);
    command("rate 50xyz\n");  // ignored
    runtime.advance(0.33);
    EXPECT_EQ(runtime.streams().takeLines().size(), 10u);
}

TEST_F(SceneSamplerTest, PauseStopsLinesAndResumeRunsAPassAtOnce) {
    load();
    sampler->start();
    runtime.advance(0.2);
    snapshots();
    command("pa");
    command("use\n");
    EXPECT_TRUE(sampler->state.paused);
    EXPECT_EQ(sampler->supportSampler.status, "session-inactive");
    EXPECT_EQ(sampler->visualSampler.status, "waiting");
    EXPECT_TRUE(sampler->capture.paused);
    runtime.advance(1.0);
    EXPECT_TRUE(runtime.streams().takeLines().empty());

    const std::int64_t revision = sampler->state.revision;
    command("resume\n");
    const auto lines = snapshots();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["context"]["revision"], revision + 1);
    EXPECT_EQ(lines[0]["context"]["transitioning"], true);
    EXPECT_EQ(sampler->state.sampleCount, 1);
    EXPECT_FALSE(sampler->capture.paused);

    // Two resumes in one chunk run two passes.
    command("resume\nresume\n");
    EXPECT_EQ(snapshots().size(), 2u);
    EXPECT_EQ(sampler->state.revision, revision + 3);
}

TEST_F(SceneSamplerTest, CommandLinesAreTakenExactly) {
    load();
    command(" pause\nPAUSE\npause\r\nresume\n");
    EXPECT_FALSE(sampler->state.paused);
    command("anchor\n");
    EXPECT_FALSE(sampler->state.anchorID.has_value());
    command("anchor \n");
    EXPECT_EQ(sampler->state.anchorID, "");
    command("anchor 100:7\n");
    EXPECT_EQ(sampler->state.anchorID, "100:7");
    command("visual-on\ncontrols-on\ninputs-on\n");
    EXPECT_TRUE(sampler->state.visualEnabled);
    EXPECT_TRUE(sampler->state.controlsEnabled);
    EXPECT_TRUE(sampler->state.inputsEnabled);
    EXPECT_EQ(sampler->visualSampler.status, "scanning");
    command("visual-off\ncontrols-off\ninputs-off\n");
    EXPECT_FALSE(sampler->state.visualEnabled || sampler->state.controlsEnabled || sampler->state.inputsEnabled);
    EXPECT_EQ(sampler->state.controlsStatus, "off");
    EXPECT_EQ(sampler->visualSampler.status, "off");
    EXPECT_TRUE(runtime.streams().takeLines().empty());
}

TEST_F(SceneSamplerTest, QuitEndsAtOnceAndSkipsLaterLines) {
    load();
    sampler->start();
    command("quit\npause\n");
    EXPECT_EQ(runtime.exitStatus(), 0);
    EXPECT_FALSE(sampler->state.paused);
}

TEST_F(SceneSamplerTest, EndOfInputParentLossAndClosedOutputEndTheProcessCleanly) {
    {
        load();
        sampler->start();
        command("pause\n");
        runtime.streams().endInput();
        EXPECT_EQ(runtime.exitStatus(), 0);
    }
    {
        ManualRuntime other;
        auto loaded = simulated::loadScene(kDesktop, "test.json", other, {4242, [this] { return parent; }});
        SceneSampler paused({"scene-sampler"}, {}, *loaded.platform, other);
        paused.start();
        other.streams().feed("pause\n");
        other.advance(0.1);
        parent = 1;  // adopted by init
        EXPECT_FALSE(other.exitStatus().has_value());
        parent = 77;
        other.advance(0.034);
        EXPECT_EQ(other.exitStatus(), 0);
    }
    {
        ManualRuntime other;
        auto loaded = simulated::loadScene(kDesktop, "test.json", other, {4242, [] { return 1; }});
        SceneSampler closed({"scene-sampler"}, {}, *loaded.platform, other);
        closed.start();
        other.streams().closeOutput();
        other.advance(0.1);
        EXPECT_EQ(other.exitStatus(), 0);
    }
}

TEST_F(SceneSamplerTest, UnavailableWindowList) {
    load();
    apply({{"do", "window-list"}, {"state", "unavailable"}});
    sampler->sample();
    apply({{"do", "window-list"}, {"state", "malformed"}});
    sampler->sample();
    EXPECT_EQ(runtime.streams().takeLines(),
              (std::vector<std::string>{R"({"status":"unavailable","windows":[]})",
                                        R"({"status":"unavailable","windows":[]})"}));
    EXPECT_EQ(sampler->state.sampleCount, 2);
    EXPECT_EQ(sampler->state.revision, 0);
}

TEST_F(SceneSamplerTest, ProcessSetsRefreshEveryHundredAndFiftyPasses) {
    load();
    sampler->sample();
    EXPECT_EQ(sampler->state.dockPIDs, (std::set<std::int32_t>{50}));
    EXPECT_EQ(sampler->state.companionPIDs, (std::set<std::int32_t>{300}));
    apply({{"do", "launch"}, {"pid", 51}, {"bundleId", "com.apple.dock"}});
    for (int i = 1; i < 150; ++i) sampler->sample();
    EXPECT_EQ(sampler->state.dockPIDs, (std::set<std::int32_t>{50}));
    sampler->sample();
    EXPECT_EQ(sampler->state.dockPIDs, (std::set<std::int32_t>{50, 51}));

    apply({{"do", "launch"}, {"pid", 52}, {"bundleId", "com.apple.dock"}});
    command("resume\n");  // resets the count, so the refresh is due again
    EXPECT_EQ(sampler->state.dockPIDs, (std::set<std::int32_t>{50, 51, 52}));
}

// Passes over an unchanged window list reuse the records; a change of the
// processes behind them must still show, though the list stays the same.
TEST_F(SceneSamplerTest, RecordsOfAnUnchangedListFollowTheProcesses) {
    const auto windowIds = [](const Json& snapshot) {
        std::vector<std::string> ids;
        for (const Json& window : snapshot["windows"]) ids.push_back(window["id"]);
        return ids;
    };
    load();
    sampler->sample();
    apply({{"do", "launch"}, {"pid", 200}, {"bundleId", "app.vantu.companion"}});
    sampler->sample();
    const auto list = platform->windowServer().copyWindowList();
    for (int pass = 3; pass <= 150; ++pass) sampler->sample();
    const std::vector<std::string> shown{"100:7", "200:9", "50:2"};
    for (const Json& snapshot : snapshots()) EXPECT_EQ(windowIds(snapshot), shown);

    sampler->sample();  // the 151st pass reads the processes again
    EXPECT_EQ(platform->windowServer().copyWindowList(), list) << "the list itself did not change";
    EXPECT_EQ(windowIds(lastSnapshot()), (std::vector<std::string>{"100:7", "50:2"}));
}

TEST_F(SceneSamplerTest, TransitionWindowsOnlyGrow) {
    load();
    sampler->invalidateScene(true, 0.4);
    const double first = sampler->state.transitionUntil;
    runtime.advance(0.1);
    sampler->invalidateScene(false, 0.12);
    EXPECT_EQ(sampler->state.transitionUntil, first);
    EXPECT_EQ(sampler->state.revision, 2);
    EXPECT_EQ(sampler->state.spaceRevision, 1);
}

TEST_F(SceneSamplerTest, SpaceChangeHidesWindowsUntilItsTransitionEnds) {
    load();
    sampler->start();
    runtime.advance(0.5);
    snapshots();
    apply({{"do", "space"},
           {"windows", Json::array({{{"pid", 100}, {"number", 7}, {"bounds", {100, 100, 600, 400}}}})}});
    runtime.runUntilIdle();
    const auto during = snapshots();
    ASSERT_EQ(during.size(), 1u);  // the handler's own pass
    EXPECT_TRUE(during[0]["windows"].empty());
    EXPECT_EQ(during[0]["context"]["spaceTransitioning"], true);
    EXPECT_EQ(during[0]["context"]["spaceRevision"], 1);
    runtime.advance(0.5);
    const Json after = lastSnapshot();
    EXPECT_EQ(after["windows"].size(), 1u);
    EXPECT_EQ(after["context"]["spaceTransitioning"], false);
    EXPECT_EQ(after["context"]["transitioning"], false);
}

TEST_F(SceneSamplerTest, UnsafeSessionsPauseCaptureAndResetSupportsOnce) {
    load();
    sampler->sample();
    EXPECT_FALSE(sampler->session.paused);
    apply({{"do", "session"}, {"value", {{"CGSSessionScreenIsLocked", true}, {"kCGSSessionOnConsoleKey", true}}}});
    sampler->sample();
    EXPECT_EQ(lastSnapshot()["sessionSafe"], false);
    EXPECT_TRUE(sampler->session.paused);
    EXPECT_EQ(sampler->supportSampler.status, "session-inactive");
    const auto generation = sampler->supportSampler.generation;
    sampler->sample();
    EXPECT_EQ(sampler->supportSampler.generation, generation);

    apply({{"do", "session"}, {"value", nullptr}});
    sampler->sample();
    EXPECT_EQ(lastSnapshot()["sessionSafe"], false);
    apply({{"do", "session"}, {"value", {{"kCGSSessionOnConsoleKey", true}}}});
    sampler->sample();
    EXPECT_EQ(lastSnapshot()["sessionSafe"], true);
    EXPECT_FALSE(sampler->session.paused);
}

TEST_F(SceneSamplerTest, InputStateInTheSnapshot) {
    load();
    apply({{"do", "input"},
           {"leftButtonDown", true},
           {"modifierFlags", 0x100000 | 0x20000},
           {"counters", {{"1", 4}, {"6", 4000000000u}, {"10", 2}}}});
    sampler->sample();
    const Json snapshot = lastSnapshot();
    EXPECT_EQ(snapshot["commandKey"], true);
    EXPECT_EQ(snapshot["context"]["leftButtonDown"], true);
    EXPECT_EQ(snapshot["inputRevision"], "4:0:0:0:2:4000000000");
}

TEST_F(SceneSamplerTest, OlderSystemsReportFixedCaptureValues) {
    std::string text = kDesktop;
    text.replace(text.find("\"format\": 1,"), 12, R"("format": 1, "system": {"version": "14.3"},)");
    load(text);
    sampler->start();
    runtime.advance(0.01);
    const Json snapshot = lastSnapshot();
    EXPECT_EQ(snapshot["captureSession"], "unsupported-os");
    EXPECT_EQ(snapshot["captureConsentID"], 0);
    EXPECT_TRUE(snapshot["captureSelectedDisplay"].is_null());
    EXPECT_EQ(snapshot["captureMetrics"], (Json{{"directPixelRequests", 0}}));
    EXPECT_EQ(snapshot["captureMode"], "selected-session");
    EXPECT_EQ(platform->activationPolicy(), ActivationPolicy::prohibited);
}

TEST_F(SceneSamplerTest, OnceModeWritesOneLegacyLine) {
    auto loaded = simulated::loadScene(kDesktop, "test.json", runtime, {4242, [] { return 1; }});
    ASSERT_TRUE(loaded.platform);
    const int status =
        runSceneSampler({"scene-sampler", "--once", "--allow-screen-capture"}, {}, *loaded.platform, runtime);
    EXPECT_EQ(status, 0);
    const auto lines = snapshots();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["captureMode"], "legacy");
    EXPECT_EQ(lines[0]["captureAccess"], "capture-disabled");
    EXPECT_EQ(lines[0]["supportVerification"], "capture-disabled");
    EXPECT_EQ(lines[0]["supportMetrics"]["topStatus"], "capture-disabled");
    EXPECT_EQ(lines[0]["context"]["transitioning"], false);
    EXPECT_TRUE(lines[0]["supportProofs"].empty());
    // In one-shot runs the companion's windows are not recognised by bundle.
    EXPECT_EQ(lines[0]["windows"].size(), 4u);
    EXPECT_FALSE(loaded.platform->activationPolicy().has_value());
}

TEST_F(SceneSamplerTest, OneShotQueries) {
    auto loaded = simulated::loadScene(kDesktop, "test.json", runtime, {4242, [] { return 1; }});
    ASSERT_TRUE(loaded.platform);
    EXPECT_EQ(runSceneSampler({"x", "--once", "--permission-status"}, {}, *loaded.platform, runtime), 0);
    EXPECT_EQ(runtime.streams().takeLines(),
              (std::vector<std::string>{R"({"accessibility":true,"screen":true,"selectedCaptureSupported":true})"}));
    EXPECT_EQ(runSceneSampler({"x", "--once", "--request-screen-permission"}, {}, *loaded.platform, runtime), 64);
    EXPECT_TRUE(runtime.streams().takeLines().empty());
}

TEST_F(SceneSamplerTest, SelectedSnapshotRequests) {
    load();
    sampler->start();
    command("capture-snapshot 123456789012345678901\ncapture-snapshot 12a\ncapture-snapshot \n");
    runtime.advance(0.01);
    for (const Json& line : snapshots()) EXPECT_FALSE(line.contains("kind"));
    // No frame has ever arrived: an answer at once.
    command("capture-snapshot 42\n");
    const auto lines = runtime.streams().takeLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Json::parse(lines[0]),
              (Json{{"kind", "capture-snapshot"}, {"requestId", "42"}, {"error", "selection-unavailable"}}));
}

}  // namespace
}  // namespace scene
