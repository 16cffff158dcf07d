#include "selected_support/selected_support_sampler.h"

#include <gtest/gtest.h>

#include "platform/manual_runtime.h"

namespace scene {
namespace {

Json rectJson(const Rect& r) { return Json{{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}}; }

Json window(const std::string& id, const Rect& r) {
    Json record = rectJson(r);
    record["id"] = id;
    return record;
}

Json contour(const std::string& side, double from, double to, double fixed, double uptime) {
    return Json{{"ownerId", "w"}, {"ownerBounds", rectJson({0, 0, 3000, 2000})}, {"side", side},
                {"from", from},   {"to", to},                                   {"fixed", fixed},
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

}  // namespace
}  // namespace scene
