#include "visual/visual_edge_tracker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scene {
namespace {

VisualEdge edge(double x, double y, double width = 100, bool platform = false, int shade = 10) {
    return VisualEdge{x, y, width, 50, std::vector<int>(32, shade), platform};
}

std::vector<std::string> ids(const std::vector<VisualTrack>& tracks) {
    std::vector<std::string> result;
    for (const VisualTrack& track : tracks) result.push_back(track.id);
    return result;
}

TEST(VisualEdgeTrackerTest, PublishesEdgesSeenInTwoConsecutiveAnalyses) {
    VisualEdgeTracker tracker;
    const std::vector<VisualEdge> edges = {edge(10, 100), edge(10, 200), edge(10, 300)};
    EXPECT_TRUE(tracker.update(edges).empty());
    const auto second = tracker.update(edges);
    EXPECT_EQ(ids(second), (std::vector<std::string>{"v1", "v2", "v3"}));
    EXPECT_EQ(second[0].sightings, 2);
    EXPECT_EQ(second[0].edge, edges[0]);

    // Missing once loses the identity for good.
    EXPECT_TRUE(tracker.update({edges[0]}).size() == 1);
    EXPECT_TRUE(tracker.update(edges).size() == 1) << "v2 and v3 come back as new tracks";
    EXPECT_EQ(ids(tracker.tracks), (std::vector<std::string>{"v1", "v4", "v5"}));

    tracker.reset();
    EXPECT_TRUE(tracker.update(edges).empty());
    EXPECT_EQ(ids(tracker.tracks), (std::vector<std::string>{"v6", "v7", "v8"})) << "serials are never reused";
}

TEST(VisualEdgeTrackerTest, MatchThresholds) {
    struct Case {
        const char* name;
        VisualEdge next;
        bool keeps;
    };
    VisualEdge near = edge(10, 100);
    near.fingerprint[0] += 31;
    near.fingerprint[1] += 31;
    near.fingerprint[2] += 7;
    VisualEdge far = near;
    far.fingerprint[3] += 1;
    VisualEdge shorter = edge(10, 100);
    shorter.fingerprint.resize(4);
    const Case cases[] = {
        {"moved down 2.9", edge(10, 102.9), true},
        {"moved down 3", edge(10, 103), false},
        {"moved up 3", edge(10, 97), false},
        {"left end moved 5.9", edge(15.9, 100), true},
        {"left end moved 6", edge(16, 100), false},
        {"grew to 113 wide", edge(10, 100, 113), true},
        {"grew to 115 wide", edge(10, 100, 115), false},
        {"fingerprint 69 away", near, true},
        {"fingerprint 70 away", far, false},
        {"fingerprint compared over the shorter one", shorter, true},
        {"became a platform", edge(10, 100, 100, true), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VisualEdgeTracker tracker;
        tracker.update({edge(10, 100)});
        const auto tracks = tracker.update({c.next});
        EXPECT_EQ(tracks.size(), c.keeps ? 1u : 0u);
        EXPECT_EQ(tracker.tracks.at(0).id, c.keeps ? "v1" : "v2");
    }
}

TEST(VisualEdgeTrackerTest, EarlierEdgesClaimFirstAndEachTrackOnce) {
    VisualEdgeTracker tracker;
    tracker.update({edge(10, 100)});
    // Both match v1; the better fit comes second and loses.
    const auto tracks = tracker.update({edge(12, 102), edge(10, 100)});
    EXPECT_EQ(ids(tracks), (std::vector<std::string>{"v1"}));
    EXPECT_EQ(tracks[0].edge.x, 12);
    EXPECT_EQ(ids(tracker.tracks), (std::vector<std::string>{"v1", "v2"}));
}

}  // namespace
}  // namespace scene
