#include "support/support_proposal.h"

#include <gtest/gtest.h>

namespace scene {
namespace {

Json rectRecord(const Rect& r) { return Json{{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}}; }

Json window(const std::string& id, const Rect& r) {
    Json record = rectRecord(r);
    record["id"] = id;
    return record;
}

Json visual(const std::string& id, const std::string& windowId, const Rect& r) {
    Json record = rectRecord(r);
    record["id"] = id;
    record["windowId"] = windowId;
    return record;
}

TEST(SupportProposalTest, ConfirmationKeyNamesOwnerSideLineAndOwnerBounds) {
    SupportProposal proposal{
        .owner = "w1", .rect = {0, 90, 300, 400}, .side = "top", .from = 10, .to = 200, .fixed = 100};
    EXPECT_EQ(proposal.confirmationKey(), "w1:top:100.0:10.0:200.0:0.0:90.0:300.0:400.0");

    proposal.rect = {-3.25, 90, 300, 12.5};
    proposal.fixed = 0.1;
    EXPECT_EQ(proposal.confirmationKey(), "w1:top:0.1:10.0:200.0:-3.25:90.0:300.0:12.5");

    // The source's identity stands in for the line, so a drifting edge keeps its history.
    proposal.identity = "edge-7";
    EXPECT_EQ(proposal.confirmationKey(), "w1:top:edge-7:-3.25:90.0:300.0:12.5");
    proposal.fixed = 140;
    EXPECT_EQ(proposal.confirmationKey(), "w1:top:edge-7:-3.25:90.0:300.0:12.5");
}

TEST(SupportProposalTest, OnlyTopAndBottomAreHorizontal) {
    for (const char* side : {"top", "bottom"}) {
        EXPECT_TRUE(SupportProposal{.side = side}.horizontal()) << side;
    }
    for (const char* side : {"left", "right", "Top", ""}) {
        EXPECT_FALSE(SupportProposal{.side = side}.horizontal()) << side;
    }
}

TEST(SupportProposalTest, SupportRectReadsAnyNumberAndKeepsSigns) {
    Json mixed{{"x", 3}, {"y", 2.5}, {"width", true}, {"height", 7u}};
    const auto read = supportRect(mixed);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, (Rect{3, 2.5, 1, 7}));

    const auto negative = supportRect(rectRecord({10, 0, -5, 4}));
    ASSERT_TRUE(negative.has_value());
    EXPECT_EQ(negative->x, 10);
    EXPECT_EQ(negative->width, -5);

    Json text = rectRecord({0, 0, 10, 10});
    text["x"] = "0";
    EXPECT_FALSE(supportRect(text).has_value());
    Json missing = rectRecord({0, 0, 10, 10});
    missing.erase("height");
    EXPECT_FALSE(supportRect(missing).has_value());
}

TEST(SupportProposalTest, ComposedProposalsFollowTheirVisualsOntoTheFirstMatchingWindow) {
    const Rect owner{0, 90, 300, 400};
    const Records windows{window("w1", owner), window("w1", {500, 500, 10, 10}), window("w2", {0, 0, 50, 50})};
    Records visuals{
        visual("lost", "ghost", {0, 0, 100, 1}), visual("v1", "w1", {10, 100, 190, 1}),
        visual("v2", "w1", {20, 120, 100, 1}),   visual("v3", "w2", {200, 30, -150, 1}),
        visual("v4", "w2", {0, 40, 60, 1}),
    };
    visuals[2]["sampleTolerance"] = 0.5;
    visuals[3]["sampleTolerance"] = 6;
    visuals[4]["sampleTolerance"] = "4";
    Json noWindowId = visual("v5", "w1", {0, 0, 100, 1});
    noWindowId.erase("windowId");
    visuals.push_back(noWindowId);

    const auto proposals = composedSupportProposals(windows, visuals);
    ASSERT_EQ(proposals.size(), 4u);
    struct Expected {
        const char* identity;
        const char* owner;
        Rect rect;
        double from, to, fixed, tolerance;
    };
    const Expected expected[] = {
        {"v1", "w1", owner, 10, 200, 100, 2.0},
        {"v2", "w1", owner, 20, 120, 120, 0.5},
        {"v3", "w2", {0, 0, 50, 50}, 50, 200, 30, 6.0},  // negative width still runs left to right
        {"v4", "w2", {0, 0, 50, 50}, 0, 60, 40, 2.0},
    };
    for (std::size_t i = 0; i < proposals.size(); ++i) {
        SCOPED_TRACE(expected[i].identity);
        const SupportProposal& p = proposals[i];
        EXPECT_EQ(p.identity, expected[i].identity);
        EXPECT_EQ(p.owner, expected[i].owner);
        EXPECT_EQ(p.side, "top");
        EXPECT_EQ(p.rect, expected[i].rect);
        EXPECT_EQ(p.from, expected[i].from);
        EXPECT_EQ(p.to, expected[i].to);
        EXPECT_EQ(p.fixed, expected[i].fixed);
        EXPECT_EQ(p.tolerance, expected[i].tolerance);
    }
    EXPECT_EQ(proposals[0].confirmationKey(), "w1:top:v1:0.0:90.0:300.0:400.0");
    EXPECT_EQ(proposals[1].confirmationKey(), "w1:top:v2:0.0:90.0:300.0:400.0");
}

TEST(SupportProposalTest, OwnerWithoutNumericBoundsOrMovedChangesTheOutcome) {
    const Records visuals{visual("v", "w", {10, 100, 100, 1})};
    const auto keyWith = [&](const Json& owner) {
        const auto proposals = composedSupportProposals({owner}, visuals);
        return proposals.empty() ? std::string("none") : proposals[0].confirmationKey();
    };
    Json textual = window("w", {0, 90, 300, 400});
    textual["x"] = "0";

    const std::string key = keyWith(window("w", {0, 90, 300, 400}));
    EXPECT_EQ(key, "w:top:v:0.0:90.0:300.0:400.0");
    EXPECT_EQ(keyWith(window("w", {1, 90, 300, 400})), "w:top:v:1.0:90.0:300.0:400.0");
    EXPECT_EQ(keyWith(window("w", {0, 90, 300, 401})), "w:top:v:0.0:90.0:300.0:401.0");
    EXPECT_EQ(keyWith(textual), "none");
}

}  // namespace
}  // namespace scene
