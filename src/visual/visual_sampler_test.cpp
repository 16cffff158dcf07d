#include "visual/visual_sampler.h"

#include <gtest/gtest.h>

#include <vector>

#include "capture_access/native_capture_access.h"
#include "platform/manual_runtime.h"

namespace scene {
namespace {

constexpr const char* kKey = "3:412:412:8731";

Json window(const std::string& id = "412:8731", Json width = 400.0, Json height = 300.0) {
    return Json{{"id", id}, {"pid", 412}, {"x", 10.0}, {"y", 20.0}, {"width", width}, {"height", height}};
}

// A dark picture with one light box: its top (row 120) is a platform, its
// bottom (row 160) a plain edge.
Image boxImage(int width, int height) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t value = (x >= 60 && x < 340 && y >= 120 && y < 160) ? 200 : 40;
            std::uint8_t* p = bytes.data() + (static_cast<std::size_t>(y) * width + x) * 4;
            p[0] = p[1] = p[2] = value;
            p[3] = 255;
        }
    }
    return Image(width, height, static_cast<std::size_t>(width) * 4, std::move(bytes));
}

// Forwards to a ManualRuntime, except that every read of the thread CPU clock
// first spends `cpuPerRead`, so each analysis measures exactly that much.
class CPUChargingRuntime final : public Runtime, private Clock {
public:
    mutable ManualRuntime manual;
    double cpuPerRead = 0;

    Clock& clock() override { return *this; }
    Queue& mainQueue() override { return manual.mainQueue(); }
    std::unique_ptr<Queue> makeSerialQueue(std::string_view label) override { return manual.makeSerialQueue(label); }
    std::unique_ptr<RepeatingTimer> makeTimer(Task handler) override { return manual.makeTimer(std::move(handler)); }
    StandardStreams& standardStreams() override { return manual.standardStreams(); }
    int run() override { return manual.run(); }
    void requestExit(int status) override { manual.requestExit(status); }
    bool exitRequested() const override { return manual.exitRequested(); }

private:
    double uptime() const override { return manual.clock().uptime(); }
    double wallSeconds() const override { return manual.clock().wallSeconds(); }
    double threadCPUSeconds() const override {
        manual.addThreadCPUSeconds(cpuPerRead);
        return manual.clock().threadCPUSeconds();
    }
};

struct Request {
    Rect rect;
    int width;
    int height;
};

class VisualSamplerTest : public ::testing::Test {
protected:
    VisualSamplerTest() {
        capture.selectedAvailable = [this] { return streamHasFrame; };
        capture.selectedStatus = [this] { return streamStatus; };
        capture.selectedImage = [this](const Rect& rect, int width, int height,
                                       const NativeCaptureAccess::ImageCompletion& completion) {
            requests.push_back({rect, width, height});
            if (cropFails) return completion(std::nullopt, missingCropError(), std::nullopt);
            completion(boxImage(imageWidth.value_or(width), height), std::nullopt,
                       frameAge ? std::optional(now() - *frameAge) : std::nullopt);
        };
    }

    double now() { return runtime.manual.now(); }
    void pass(const std::optional<Json>& record, bool enabled = true, const std::string& key = kKey,
              bool occupied = false) {
        visual.sample(record, key, enabled, occupied);
    }
    // One pass followed by everything it set off.
    void settledPass(const Json& record = window(), bool occupied = false) {
        pass(record, true, kKey, occupied);
        runtime.manual.runUntilIdle();
    }

    CPUChargingRuntime runtime;
    NativeCaptureAccess capture{{"x", "--allow-screen-capture"}, {}};
    bool streamHasFrame = true;
    std::string streamStatus = "ready";
    bool cropFails = false;
    std::optional<int> imageWidth;   // instead of the requested width
    std::optional<double> frameAge;  // seconds before the capture; none: no frame time
    std::vector<Request> requests;
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
    visual.tracker.update({VisualEdge{}});

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
    EXPECT_EQ(visual.tracker.tracks.size(), 1u) << "the tracker is cleared on its own queue";
    runtime.manual.runUntilIdle();
    EXPECT_TRUE(visual.tracker.tracks.empty());
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
    EXPECT_TRUE(requests.empty());
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
        requests.clear();
        VisualSampler sampler(runtime, capture, SystemVersion{14, 0, 0});
        sampler.sample(c.record, kKey, true, false);
        EXPECT_EQ(sampler.status, c.status);
        EXPECT_EQ(sampler.generation, 1);
        EXPECT_EQ(requests.size(), c.status == "scanning" ? 1u : 0u);
        sampler.sample(c.record, kKey, true, false);
        EXPECT_EQ(sampler.generation, 1) << "the same window keeps its generation";
    }
}

TEST_F(VisualSamplerTest, RequestsTheWindowAtMost768PixelsOnItsLongerSide) {
    struct Case {
        double width, height;
        int pixelWidth, pixelHeight;
    };
    const Case cases[] = {{400, 300, 400, 300},
                          {800, 600, 768, 576},
                          {1000, 2000, 384, 768},
                          {1537, 200, 768, 100},
                          {768.5, 200.5, 768, 200}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        requests.clear();
        visual.reset("off");
        settledPass(window("412:8731", c.width, c.height));
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].rect, (Rect{10, 20, c.width, c.height}));
        EXPECT_EQ(requests[0].width, c.pixelWidth);
        EXPECT_EQ(requests[0].height, c.pixelHeight);
    }
}

TEST_F(VisualSamplerTest, EdgesArePublishedFromTheSecondAnalysisOn) {
    settledPass();
    EXPECT_EQ(visual.status, "ready");
    EXPECT_TRUE(visual.latest.empty()) << "one sighting is not enough";
    EXPECT_EQ(visual.latestAt, now());
    EXPECT_EQ(visual.backoff, 0);

    runtime.manual.advance(0.5);
    settledPass();
    ASSERT_EQ(visual.latest.size(), 2u);
    const Json bounds = {{"x", 10.0}, {"y", 20.0}, {"width", 400.0}, {"height", 300.0}};
    const Json top = {{"id", "visual:412:8731:v1"},
                      {"windowId", "412:8731"},
                      {"pid", 412},
                      {"x", 70.0},
                      {"y", 140.0},
                      {"width", 280.0},
                      {"height", 1.0},
                      {"clip", bounds},
                      {"windowBounds", bounds},
                      {"confidence", 0.9},
                      {"platform", true},
                      {"sampleTolerance", 2.0}};
    EXPECT_EQ(visual.latest[0], top);
    EXPECT_TRUE(visual.latest[0]["pid"].is_number_integer());
    EXPECT_TRUE(visual.latest[0]["x"].is_number_float());
    EXPECT_EQ(visual.latest[1]["id"], "visual:412:8731:v2");
    EXPECT_EQ(visual.latest[1]["y"], 180.0);
    EXPECT_EQ(visual.latest[1]["platform"], false);

    // A window scaled to less than half a pixel per point widens the tolerance;
    // a record without a pid reports 0.
    Json large = window("412:8731", 2000.0, 1000.0);
    large.erase("pid");
    settledPass(large);
    runtime.manual.advance(0.5);
    settledPass(large);
    ASSERT_FALSE(visual.latest.empty());
    EXPECT_DOUBLE_EQ(visual.latest[0]["sampleTolerance"].get<double>(), 1000.0 / 384);
    EXPECT_EQ(visual.latest[0]["pid"], 0);
}

TEST_F(VisualSamplerTest, FailuresBackOffUntilAnAnalysisFitsTheBudget) {
    cropFails = true;
    settledPass();
    EXPECT_EQ(visual.status, "unavailable");
    EXPECT_EQ(visual.backoff, 2);
    EXPECT_FALSE(visual.busy);

    runtime.manual.advance(1.9);
    settledPass();
    EXPECT_EQ(requests.size(), 1u);
    runtime.manual.advance(0.1);
    settledPass();
    EXPECT_EQ(requests.size(), 2u);
    EXPECT_EQ(visual.backoff, 4);

    cropFails = false;
    runtime.manual.advance(4);
    settledPass();
    EXPECT_EQ(visual.status, "ready");
    EXPECT_EQ(visual.backoff, 0);
}

TEST_F(VisualSamplerTest, SlowAnalysesAreWithheldAndSlowCapture) {
    struct Case {
        double cpuSeconds;
        std::string status;
        double backoff;
        std::size_t published;
    };
    const Case cases[] = {{0.020, "ready", 0, 2}, {0.050, "budget-limited", 2, 0}, {0.300, "budget-limited", 8, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cpuSeconds);
        visual.reset("off");
        runtime.cpuPerRead = 0;
        settledPass();
        runtime.cpuPerRead = c.cpuSeconds;
        runtime.manual.advance(0.5);
        settledPass();
        EXPECT_EQ(visual.status, c.status);
        EXPECT_DOUBLE_EQ(visual.analysisMS, c.cpuSeconds * 1000);
        EXPECT_DOUBLE_EQ(visual.backoff, c.backoff);
        EXPECT_EQ(visual.latest.size(), c.published);
        EXPECT_EQ(visual.latestAt, now());
    }
}

TEST_F(VisualSamplerTest, CapturesAreSpacedByOccupancy) {
    struct Case {
        bool occupied;
        double interval;
    };
    for (const Case& c : {Case{true, 0.2}, Case{false, 0.5}}) {
        SCOPED_TRACE(c.occupied);
        visual.reset("off");
        settledPass(window(), c.occupied);
        requests.clear();
        runtime.manual.advance(c.interval - 0.01);
        settledPass(window(), c.occupied);
        EXPECT_TRUE(requests.empty());
        runtime.manual.advance(0.01);
        settledPass(window(), c.occupied);
        EXPECT_EQ(requests.size(), 1u);
    }
}

TEST_F(VisualSamplerTest, OldOrUnusablePixelsPublishNothing) {
    struct Case {
        const char* name;
        std::optional<double> frameAge;
        std::optional<int> imageWidth;
        std::string status;
        double backoff;
    };
    const Case cases[] = {
        {"frame 0.69 s old", 0.69, std::nullopt, "ready", 0},
        {"frame 0.7 s old", 0.7, std::nullopt, "stale", 1},
        {"image too wide to analyse", std::nullopt, 800, "unavailable", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        visual.reset("off");
        frameAge = c.frameAge;
        imageWidth = c.imageWidth;
        settledPass();
        EXPECT_EQ(visual.status, c.status);
        EXPECT_EQ(visual.backoff, c.backoff);
        EXPECT_TRUE(visual.latest.empty());
        EXPECT_FALSE(visual.busy);
    }
}

TEST_F(VisualSamplerTest, WatchKeyFollowsSceneWindowAndWholePointSize) {
    settledPass(window("412:8731", 800.0, 600.0));
    EXPECT_EQ(visual.lastKey, "3:412:412:8731:412:8731:800x600");

    settledPass(window("412:8731", 800.9, 600.4));
    EXPECT_EQ(visual.generation, 1) << "sub-point resize";
    settledPass(window("412:8731", 801.0, 600.4));
    EXPECT_EQ(visual.generation, 2);
    EXPECT_EQ(requests.size(), 2u) << "a new size is captured at once";
    pass(window("412:8731", 801.0, 600.4), true, "4:412:412:8731");
    EXPECT_EQ(visual.generation, 3);
    pass(window("412:9000", 801.0, 600.4), true, "4:412:412:8731");
    EXPECT_EQ(visual.generation, 4);
    EXPECT_EQ(visual.status, "scanning");
    EXPECT_EQ(requests.size(), 3u) << "the next window waits for the capture in flight";

    // What the earlier window's analysis found is dropped.
    runtime.manual.runUntilIdle();
    EXPECT_EQ(visual.status, "scanning");
    EXPECT_EQ(visual.latestAt, 0);
    EXPECT_FALSE(visual.busy);
}

TEST_F(VisualSamplerTest, OldResultsGoStale) {
    settledPass();
    visual.latest = {Json::object()};
    visual.latestAt = now() - 0.69;
    pass(window());
    EXPECT_EQ(visual.status, "ready");
    visual.latestAt = now() - 0.71;
    pass(window());
    EXPECT_EQ(visual.status, "stale");
    EXPECT_TRUE(visual.latest.empty());
    EXPECT_EQ(visual.generation, 1) << "going stale is no reset";
}

}  // namespace
}  // namespace scene
