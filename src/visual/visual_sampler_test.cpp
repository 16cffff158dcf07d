#include "visual/visual_sampler.h"

#include <gtest/gtest.h>

#include "capture_access/native_capture_access.h"
#include "platform/manual_runtime.h"

namespace scene {
namespace {

constexpr const char* kKey = "3:412:412:8731";

Json window(const std::string& id = "412:8731", Json width = 800.0, Json height = 600.0) {
    return Json{{"id", id}, {"pid", 412}, {"x", 10.0}, {"y", 20.0}, {"width", width}, {"height", height}};
}

class VisualSamplerTest : public ::testing::Test {
protected:
    VisualSamplerTest() {
        capture.selectedAvailable = [this] { return streamHasFrame; };
        capture.selectedStatus = [this] { return streamStatus; };
    }

    void pass(const std::optional<Json>& record, bool enabled = true, const std::string& key = kKey) {
        visual.sample(record, key, enabled, false);
    }

    ManualRuntime runtime;
    NativeCaptureAccess capture{{"sampler", "--allow-screen-capture"}, {}};
    bool streamHasFrame = true;
    std::string streamStatus = "ready";
    VisualSampler visual{runtime, capture, SystemVersion{14, 4, 0}};
};

TEST_F(VisualSamplerTest, ResetStartsOverButKeepsCaptureTiming) {
    visual.latest = {Json{{"id", "visual:412:8731:1"}}};
    visual.latestAt = 5;
    visual.lastKey = "k";
    visual.backoff = 4;
    visual.busy = true;
    visual.lastStarted = 7;
    visual.analysisMS = 8;
    visual.captureMS = 9;

    visual.reset("scanning");

    EXPECT_EQ(visual.generation, 1);
    EXPECT_EQ(visual.status, "scanning");
    EXPECT_TRUE(visual.latest.empty());
    EXPECT_EQ(visual.latestAt, 0);
    EXPECT_EQ(visual.lastKey, "");
    EXPECT_EQ(visual.backoff, 1.0);
    EXPECT_TRUE(visual.busy) << "the capture in flight clears it when it lands";
    EXPECT_EQ(visual.lastStarted, 7);
    EXPECT_EQ(visual.analysisMS, 8);
    EXPECT_EQ(visual.captureMS, 9);
}

TEST_F(VisualSamplerTest, DisabledResetsOnlyOnce) {
    pass(window(), false);
    EXPECT_EQ(visual.generation, 0) << "already off";
    visual.status = "ready";
    pass(window(), false);
    pass(window(), false);
    EXPECT_EQ(visual.generation, 1);
    EXPECT_EQ(visual.status, "off");
}

TEST_F(VisualSamplerTest, OlderSystemsReportWithoutResetting) {
    VisualSampler old(runtime, capture, SystemVersion{13, 6, 0});
    old.latest = {Json::object()};
    old.sample(window(), kKey, true, false);
    EXPECT_EQ(old.status, "unsupported-os");
    EXPECT_TRUE(old.latest.empty());
    EXPECT_EQ(old.generation, 0);
}

TEST_F(VisualSamplerTest, UnavailableStreamResetsEveryPass) {
    streamHasFrame = false;
    streamStatus = "capture-paused";
    pass(window());
    pass(window());
    EXPECT_EQ(visual.generation, 2);
    EXPECT_EQ(visual.status, "capture-paused");
}

TEST_F(VisualSamplerTest, WhichWindowsAreWatched) {
    struct Case {
        const char* name;
        std::optional<Json> record;
        std::string status;
    };
    Json noHeight = window();
    noHeight.erase("height");
    const Case cases[] = {
        {"no window", std::nullopt, "waiting"},
        {"139 wide", window("412:8731", 139.0), "waiting"},
        {"159 high", window("412:8731", 800.0, 159), "waiting"},
        {"smallest watched", window("412:8731", 140, 160.0), "scanning"},
        {"height as text", window("412:8731", 800.0, "600"), "waiting"},
        {"height missing", noHeight, "waiting"},
        {"numeric id", Json{{"id", 8731}, {"width", 800.0}, {"height", 600.0}}, "waiting"},
        {"window number not decimal", window("412:87a1"), "waiting"},
        {"largest window number", window("412:4294967295"), "scanning"},
        {"window number too large", window("412:4294967296"), "waiting"},
        {"signed window number", window("412:-5"), "waiting"},
        {"trailing colon", window("412:8731:"), "scanning"},
        {"only colons", window(":::"), "waiting"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VisualSampler sampler(runtime, capture, SystemVersion{14, 0, 0});
        sampler.sample(c.record, kKey, true, false);
        EXPECT_EQ(sampler.status, c.status);
        EXPECT_EQ(sampler.generation, 1);
        sampler.sample(c.record, kKey, true, false);
        EXPECT_EQ(sampler.generation, 1) << "the same window keeps its generation";
    }
}

TEST_F(VisualSamplerTest, WatchKeyFollowsSceneWindowAndWholePointSize) {
    pass(window("412:8731", 800.0, 600.0));
    EXPECT_EQ(visual.lastKey, "3:412:412:8731:412:8731:800x600");
    EXPECT_EQ(visual.lastStarted, 0) << "a new window is due for capture at once";

    pass(window("412:8731", 800.9, 600.4));
    EXPECT_EQ(visual.generation, 1) << "sub-point resize";
    pass(window("412:8731", 801.0, 600.4));
    EXPECT_EQ(visual.generation, 2);
    EXPECT_EQ(visual.status, "scanning");
    pass(window("412:8731", 801.0, 600.4), true, "4:412:412:8731");
    EXPECT_EQ(visual.generation, 3);
    pass(window("412:9000", 801.0, 600.4), true, "4:412:412:8731");
    EXPECT_EQ(visual.generation, 4);
}

TEST_F(VisualSamplerTest, OldResultsGoStale) {
    pass(window());
    visual.latest = {Json::object()};
    visual.status = "ready";
    visual.latestAt = runtime.now() - 0.69;
    pass(window());
    EXPECT_EQ(visual.status, "ready");
    visual.latestAt = runtime.now() - 0.71;
    pass(window());
    EXPECT_EQ(visual.status, "stale");
    EXPECT_TRUE(visual.latest.empty());
    EXPECT_EQ(visual.generation, 1) << "going stale is no reset";
}

}  // namespace
}  // namespace scene
