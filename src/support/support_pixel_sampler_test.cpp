#include "support/support_pixel_sampler.h"

#include <gtest/gtest.h>

#include "capture_access/native_capture_access.h"
#include "platform/manual_runtime.h"

namespace scene {
namespace {

Json bounds(const Rect& r) { return Json{{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}}; }

Json owner(const std::string& id, const Rect& r) {
    Json record = bounds(r);
    record["id"] = id;
    return record;
}

Json support(const std::string& ownerId, const Rect& ownerBounds, double uptime, const std::string& id = "s") {
    return Json{{"id", id}, {"ownerId", ownerId}, {"ownerBounds", bounds(ownerBounds)}, {"uptime", uptime}};
}

class SupportPixelSamplerTest : public ::testing::Test {
protected:
    ManualRuntime runtime;
    SupportPixelSampler sampler{runtime.clock()};
    const Rect window{100, 200, 300, 400};
};

TEST_F(SupportPixelSamplerTest, FreshAgesAndHidesOldRecords) {
    sampler.updateOwners({owner("w", window)}, {});
    const double now = runtime.now();
    Json noUptime = support("w", window, 0, "none");
    noUptime.erase("uptime");
    sampler.latest = {support("w", window, now - 0.25, "young"), support("w", window, now - 0.75, "at-lifetime"),
                      noUptime, support("gone", window, now, "orphan")};

    const Records fresh = sampler.fresh();
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_EQ(fresh[0]["id"], "young");
    EXPECT_DOUBLE_EQ(fresh[0]["ageMS"].get<double>(), 250);
    EXPECT_FALSE(fresh[0].contains("uptime"));
    EXPECT_EQ(sampler.latest.size(), 4u) << "ageing reads, it does not prune";

    SupportPixelSampler longLived(runtime.clock(), 1.5);
    longLived.owners = sampler.owners;
    longLived.latest = sampler.latest;
    EXPECT_EQ(longLived.fresh().size(), 2u);
}

TEST_F(SupportPixelSamplerTest, OwnerMatchesWithinThreeQuartersOfAPoint) {
    sampler.updateOwners({owner("w", window)}, {});
    struct Case {
        const char* name;
        Json record;
        bool matches;
    };
    Json stringBounds = support("w", window, 0);
    stringBounds["ownerBounds"]["x"] = "100";
    Json numericOwner = support("w", window, 0);
    numericOwner["ownerId"] = 7;
    const Case cases[] = {
        {"same bounds", support("w", window, 0), true},
        {"moved half a point", support("w", {100.5, 200, 300, 400}, 0), true},
        {"moved 0.75", support("w", {100, 200.75, 300, 400}, 0), false},
        {"narrower by 0.74", support("w", {100, 200, 299.26, 400}, 0), true},
        {"taller by one", support("w", {100, 200, 300, 401}, 0), false},
        {"unknown owner", support("v", window, 0), false},
        {"owner bounds not numeric", stringBounds, false},
        {"owner id not text", numericOwner, false},
        {"no owner bounds", Json{{"ownerId", "w"}, {"uptime", 0.0}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sampler.ownerMatches(c.record), c.matches);
    }
}

TEST_F(SupportPixelSamplerTest, UpdateOwnersLetsDocksWinAndDropsStrays) {
    const Rect shelfAsWindow{0, 820, 1440, 80};
    const Rect shelf{120, 830, 1200, 70};
    const Records windows{owner("w", window), owner("dock:1", shelfAsWindow), Json{{"id", 3}, {"x", 0.0}},
                          owner("w2", window)};
    sampler.latest = {support("w", {100.5, 200, 300, 400}, 0, "kept"), support("w", {101, 200, 300, 400}, 0, "moved"),
                      support("dock:1", shelfAsWindow, 0, "window-shaped"), support("dock:1", shelf, 0, "shelf"),
                      support("closed", window, 0, "closed")};

    sampler.updateOwners(windows, {owner("dock:1", shelf)});

    EXPECT_EQ(sampler.owners.size(), 3u);
    EXPECT_EQ(sampler.owners.at("dock:1"), shelf);
    std::vector<std::string> left;
    for (const Json& record : sampler.latest) left.push_back(record["id"]);
    EXPECT_EQ(left, (std::vector<std::string>{"kept", "shelf"}));
}

TEST_F(SupportPixelSamplerTest, ResetStartsOverButKeepsTimingsAndOwners) {
    sampler.updateOwners({owner("w", window)}, {});
    sampler.latest = {support("w", window, runtime.now())};
    sampler.latestAt = runtime.now();
    sampler.captureMS = 3;
    sampler.analysisMS = 4;
    sampler.grayPixels = 5;
    sampler.grayRegions = 6;
    sampler.candidateCount = 7;

    for (int round = 1; round <= 2; ++round) {
        sampler.reset("session-inactive");
        EXPECT_EQ(sampler.generation, round) << "the same word resets again";
    }
    EXPECT_EQ(sampler.status, "session-inactive");
    EXPECT_TRUE(sampler.latest.empty());
    EXPECT_EQ(sampler.latestAt, 0);
    EXPECT_EQ(sampler.grayPixels + sampler.grayRegions + sampler.candidateCount, 0);
    EXPECT_EQ(sampler.captureMS, 3);
    EXPECT_EQ(sampler.analysisMS, 4);
    EXPECT_EQ(sampler.owners.size(), 1u);
}

TEST_F(SupportPixelSamplerTest, OneShotSampleOnlySettlesTheStatus) {
    NativeCaptureAccess once({"sampler", "--once"}, {});
    NativeCaptureAccess live({"sampler", "--allow-screen-capture"}, {});
    live.selectedAvailable = [] { return true; };
    live.selectedStatus = [] { return std::string("ready"); };
    struct Case {
        const char* name;
        const NativeCaptureAccess& broker;
        SystemVersion system;
        std::string status;
        int generation;
    };
    const Case cases[] = {
        {"system 13.6", once, {13, 6, 0}, "unsupported-os", 1},
        {"14.0 in one-shot mode", once, {14, 0, 0}, "capture-disabled", 1},
        {"capture granted", live, {14, 4, 0}, "starting", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SupportPixelSampler pass(runtime.clock());
        pass.sample({}, {}, {}, {}, std::nullopt, {}, c.broker, c.system);
        EXPECT_EQ(pass.status, c.status);
        EXPECT_EQ(pass.generation, c.generation);
    }
}

}  // namespace
}  // namespace scene
