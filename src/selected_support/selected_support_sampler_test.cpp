#include "selected_support/selected_support_sampler.h"

#include <gtest/gtest.h>

#include "platform/manual_runtime.h"
#include "platform/simulated/frame_renderer.h"

namespace scene {
namespace {

Json rectJson(const Rect& r) { return Json{{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}}; }

Json window(const std::string& id, const Rect& r) {
    Json record = rectJson(r);
    record["id"] = id;
    return record;
}

Json contour(const std::string& side, double from, double to, double fixed, double uptime) {
    return Json{{"ownerId", "w"},  {"ownerBounds", rectJson({0, 0, 3000, 2000})},
                {"side", side},    {"from", from},
                {"to", to},        {"fixed", fixed},
                {"uptime", uptime}};
}

class SelectedSupportSamplerTest : public ::testing::Test {
protected:
    void offer(std::optional<Image> image, double observed, std::uint64_t sequence = 1) {
        sampler.sample(image, display, 2, observed, sequence, {window("w", {0, 0, 3000, 2000})}, {}, {}, std::nullopt);
    }

    ManualRuntime runtime;
    SelectedSupportSampler sampler{runtime};
    const Rect display{0, 0, 1440, 900};
    const Image frame = Image::filled(4, 4, 0xff000000);
};

TEST_F(SelectedSupportSamplerTest, UnusableFramesPauseOnce) {
    const double now = runtime.now();
    offer(std::nullopt, 0);
    EXPECT_EQ(sampler.status, "capture-paused");
    EXPECT_EQ(sampler.generation, 1);
    offer(frame, now - 0.7);
    offer(frame, now + 0.1);
    EXPECT_EQ(sampler.generation, 1) << "already paused with nothing published";

    sampler.storage.latest = {contour("top", 0, 100, 10, now)};
    offer(std::nullopt, 0);
    EXPECT_EQ(sampler.generation, 2) << "records that reappeared are withdrawn";
    EXPECT_TRUE(sampler.storage.latest.empty());
}

TEST_F(SelectedSupportSamplerTest, UsableFrameSetsTheDisplay) {
    offer(frame, runtime.now() - 0.69);
    EXPECT_EQ(sampler.displayID, 2u);
    EXPECT_EQ(sampler.bounds, display);
    EXPECT_EQ(sampler.status, "selection-required");
    EXPECT_EQ(sampler.storage.owners.size(), 1u);
}

TEST_F(SelectedSupportSamplerTest, ResetClearsHistoryOnTheAnalysisQueue) {
    sampler.previous["w:top:300.0:200.0"] = {{{0, 10, 0}}, 1.0};
    sampler.lastSequence = 9;
    sampler.reset("session-inactive");
    EXPECT_EQ(sampler.lastSequence, 0u);
    EXPECT_EQ(sampler.storage.status, "session-inactive");
    EXPECT_EQ(sampler.previous.size(), 1u) << "history belongs to the queue";
    runtime.runUntilIdle();
    EXPECT_TRUE(sampler.previous.empty());
}

TEST_F(SelectedSupportSamplerTest, FreshClipsToTheDisplay) {
    offer(frame, runtime.now());
    const double now = runtime.now();
    sampler.storage.latest = {
        contour("top", -100, 2000, 900, now),     // edge of the display: clipped to its width
        contour("bottom", 1400, 1600, 500, now),  // 40 points left on this display
        contour("top", 10, 400, 901, now),        // below the display
        contour("left", 100, 2000, 1440, now),    // vertical, clipped to the height
        contour("right", 0, 47.5, 10, now),       // too short from the start
    };
    const Records fresh = sampler.fresh();
    ASSERT_EQ(fresh.size(), 2u);
    EXPECT_EQ(fresh[0]["from"], 0.0);
    EXPECT_EQ(fresh[0]["to"], 1440.0);
    EXPECT_EQ(fresh[1]["side"], "left");
    EXPECT_EQ(fresh[1]["from"], 100.0);
    EXPECT_EQ(fresh[1]["to"], 900.0);
    EXPECT_TRUE(fresh[1].contains("ageMS"));
}

// Frames painted by the simulated desktop at two pixels per point; one window
// whose outline the sampler should find.
class SelectedSupportFramesTest : public ::testing::Test {
protected:
    static constexpr double kScale = 2;

    Image render(const Rect& drawn) const {
        simulated::FrameScene scene;
        scene.display = display;
        scene.windows.push_back({.bounds = drawn});
        const int width = static_cast<int>(display.width * kScale);
        const int height = static_cast<int>(display.height * kScale);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 4);
        simulated::renderFrame(scene, width, height, bytes.data(), static_cast<std::size_t>(width) * 4);
        return Image(width, height, static_cast<std::size_t>(width) * 4, std::move(bytes));
    }

    // Offers a frame showing the window at `drawn` while the window list says
    // `recorded`, lets the analysis finish, and moves on to the next frame time.
    void offer(const Rect& drawn, const Rect& recorded, std::uint64_t sequence, const Records& visuals = {}) {
        lastImage = render(drawn);
        lastObserved = runtime.now();
        sampler.sample(lastImage, display, 1, lastObserved, sequence, {record(recorded)}, {}, visuals, std::nullopt);
        runtime.runUntilIdle();
        runtime.advance(0.2);
    }

    static Json record(const Rect& bounds) {
        Json window = rectJson(bounds);
        window["id"] = "w1";
        window["layer"] = 0;
        return window;
    }

    std::optional<Json> published(const std::string& side) const {
        for (const Json& support : sampler.fresh()) {
            if (support["side"] == side && support["source"] == "selected-contour") return support;
        }
        return std::nullopt;
    }

    ManualRuntime runtime;
    SelectedSupportSampler sampler{runtime};
    const Rect display{0, 0, 800, 600};
    const Rect window{100, 100, 400, 300};
    Image lastImage;
    double lastObserved = 0;
};

TEST_F(SelectedSupportFramesTest, OutlineConfirmedByTwoFramesFollowsItsWindow) {
    const Records visuals{
        {{"id", "edge-1"}, {"windowId", "w1"}, {"x", 150}, {"y", 100}, {"width", 200}, {"height", 1}}};
    offer(window, window, 1, visuals);
    EXPECT_EQ(sampler.status, "ready");
    EXPECT_TRUE(sampler.fresh().empty()) << "one frame proves nothing";
    EXPECT_EQ(sampler.candidateCount, 5);
    EXPECT_EQ(sampler.rawRuns, 5);

    offer(window, window, 2, visuals);
    const Records supports = sampler.fresh();
    ASSERT_EQ(supports.size(), 5u);
    EXPECT_EQ(supports[0]["source"], "composited-pixels");
    EXPECT_EQ(supports[0]["proposalId"], "edge-1");
    EXPECT_EQ(sampler.pairedOwners, 1) << "visual edges do not count";
    const auto top = published("top");
    ASSERT_TRUE(top);
    EXPECT_EQ((*top)["id"], "selected:w1:top:400.0:300.0:12:389:0");
    EXPECT_EQ((*top)["from"], 112.0);
    EXPECT_EQ((*top)["to"], 488.5);
    EXPECT_EQ((*top)["fixed"], 100.0);
    EXPECT_EQ((*top)["displayId"], 1);
    // The 1-point border makes two steps on every side; the run finder keeps
    // the first line it scans on a tie, which on the right and bottom is the
    // border's inner edge.
    EXPECT_EQ(published("left").value()["fixed"], 100.0);
    EXPECT_EQ(published("right").value()["fixed"], 499.0);
    EXPECT_EQ(published("bottom").value()["fixed"], 399.0);

    // Dragged between frames: the published outline goes along...
    const Rect dragged{150, 120, 400, 300};
    sampler.sample(lastImage, display, 1, lastObserved, 2, {record(dragged)}, {}, {}, std::nullopt);
    EXPECT_EQ(published("top").value()["from"], 162.0);
    EXPECT_EQ(published("top").value()["fixed"], 120.0);
    // ...and the next frame at the new place confirms it again.
    offer(dragged, dragged, 3);
    EXPECT_EQ(published("top").value()["fixed"], 120.0);
    EXPECT_EQ(published("left").value()["fixed"], 150.0);
}

TEST_F(SelectedSupportFramesTest, ResizedWindowNeedsTwoNewFrames) {
    offer(window, window, 1);
    offer(window, window, 2);
    ASSERT_EQ(sampler.fresh().size(), 4u);
    const Rect wider{100, 100, 420, 300};
    offer(wider, wider, 3);
    EXPECT_TRUE(sampler.fresh().empty());
    offer(wider, wider, 4);
    EXPECT_EQ(published("top").value()["to"], 508.5);
}

TEST_F(SelectedSupportFramesTest, LineMustHoldStillWithinAPoint) {
    for (const auto& [shift, confirmed] : {std::pair{1.0, true}, std::pair{1.5, false}}) {
        sampler.reset("selection-changed");
        Rect shifted = window;
        shifted.y += shift;
        offer(window, window, 1);
        offer(shifted, window, 2);
        EXPECT_EQ(published("top").has_value(), confirmed) << "shift " << shift;
        EXPECT_TRUE(published("left")) << "vertical edges did not move";
    }
}

TEST_F(SelectedSupportFramesTest, EachFrameIsAnalysedOnce) {
    offer(window, window, 1);
    sampler.sample(lastImage, display, 1, runtime.now(), 1, {record(window)}, {}, {}, std::nullopt);
    runtime.runUntilIdle();
    EXPECT_TRUE(sampler.fresh().empty()) << "a second look at frame 1 would have confirmed it";
    runtime.advance(0.2);
    offer(window, window, 2);
    EXPECT_EQ(sampler.fresh().size(), 4u);
}

TEST_F(SelectedSupportFramesTest, AnalysesAtMost192Proposals) {
    Records windows;
    for (int i = 0; i < 60; ++i) windows.push_back(record({10.0 + i, 10.0 + i, 300, 200}));
    sampler.sample(render(window), display, 1, runtime.now(), 1, windows, {}, {}, std::nullopt);
    runtime.runUntilIdle();
    EXPECT_EQ(sampler.candidateCount, 192);
}

}  // namespace
}  // namespace scene
