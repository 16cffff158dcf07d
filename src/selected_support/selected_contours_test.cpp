#include "selected_support/selected_contours.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

namespace scene {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

Json window(const std::string& id, double width, double height, const Json& layer = 0) {
    Json record{{"id", id}, {"x", 100.0}, {"y", 50.0}, {"width", width}, {"height", height}};
    if (!layer.is_null()) record["layer"] = layer;
    return record;
}

Json dock(const std::string& id, double width) {
    return Json{{"id", id}, {"x", 400.0}, {"y", 900.0}, {"width", width}, {"height", 70.0}};
}

TEST(SelectedContourProposals, OutlinesOnlyForOrdinaryWindowsOfUsableSize) {
    struct Case {
        const char* name;
        Json window;
    };
    const Case rejected[] = {
        {"too narrow", window("w", 179, 80)},
        {"too low", window("w", 180, 79)},
        {"height not a number", window("w", 180, std::nan(""))},
        {"width not a number", window("w", std::nan(""), 80)},
        {"layer above ordinary windows", window("w", 180, 80, 9)},
        {"negative layer", window("w", 180, 80, -1)},
        {"no layer", window("w", 180, 80, nullptr)},
        {"layer as a float", window("w", 180, 80, 3.0)},
        {"layer as text", window("w", 180, 80, "0")},
        {"id not a string",
         [] {
             Json w = window("w", 180, 80);
             w["id"] = 7;
             return w;
         }()},
    };
    for (const Case& c : rejected) EXPECT_THAT(selectedContourProposals({c.window}, {}, {}), IsEmpty()) << c.name;

    const auto proposals = selectedContourProposals({window("w", 180, 80, 8)}, {}, {});
    ASSERT_EQ(proposals.size(), 4u);
    struct Expected {
        const char* side;
        double from, to, fixed;
    };
    const Expected expected[] = {
        {"top", 112, 268, 50}, {"bottom", 112, 268, 130}, {"left", 62, 118, 100}, {"right", 62, 118, 280}};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(expected[i].side);
        EXPECT_EQ(proposals[i].owner, "w");
        EXPECT_EQ(proposals[i].side, expected[i].side);
        EXPECT_DOUBLE_EQ(proposals[i].from, expected[i].from);
        EXPECT_DOUBLE_EQ(proposals[i].to, expected[i].to);
        EXPECT_DOUBLE_EQ(proposals[i].fixed, expected[i].fixed);
        EXPECT_EQ(proposals[i].rect, (Rect{100, 50, 180, 80}));
        EXPECT_FALSE(proposals[i].identity);
        EXPECT_DOUBLE_EQ(proposals[i].tolerance, 2.0);
    }
}

TEST(SelectedContourProposals, DockItemsGetThreeShelfLinesOnceWideEnough) {
    EXPECT_THAT(selectedContourProposals({}, {dock("dock:a", 95)}, {}), IsEmpty());
    EXPECT_THAT(selectedContourProposals({}, {dock("dock:a", std::nan(""))}, {}), IsEmpty());

    const auto proposals = selectedContourProposals({}, {dock("dock:a", 96)}, {});
    ASSERT_EQ(proposals.size(), 3u);
    const double lines[] = {902, 907, 912};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(proposals[i].side, "top");
        EXPECT_DOUBLE_EQ(proposals[i].from, 412);
        EXPECT_DOUBLE_EQ(proposals[i].to, 484);
        EXPECT_DOUBLE_EQ(proposals[i].fixed, lines[i]);
    }
}

TEST(SelectedContourProposals, VisualEdgesFirstThenWindowsThenDocks) {
    const Json visual{{"id", "v1"}, {"windowId", "w"}, {"x", 120.0}, {"y", 70.0}, {"width", 50.0}, {"height", 2.0}};
    const auto proposals =
        selectedContourProposals({window("w", 300, 200), window("x", 300, 200)}, {dock("dock:a", 100)}, {visual});
    std::vector<std::string> order;
    for (const auto& p : proposals) order.push_back(p.owner + ":" + p.side);
    EXPECT_THAT(order, ElementsAre("w:top", "w:top", "w:bottom", "w:left", "w:right", "x:top", "x:bottom", "x:left",
                                   "x:right", "dock:a:top", "dock:a:top", "dock:a:top"));
    EXPECT_EQ(proposals[0].identity, "v1");
}

SupportProposal edge(const std::string& owner, const std::string& side, double width = 300) {
    SupportProposal proposal;
    proposal.owner = owner;
    proposal.rect = {0, 0, width, 200};
    proposal.side = side;
    return proposal;
}

TEST(SelectedPairedContours, WindowEdgesCountOnceBothOrientationsAreFound) {
    const std::vector<SupportRun> top{{10, 90, 0}};
    const std::vector<SupportRun> left{{20, 80, 0}};
    const std::vector<SupportProposal> proposals{edge("w", "top"), edge("w", "bottom"), edge("w", "left")};

    EXPECT_THAT(selectedPairedContours(proposals, {top, {}, {}}, {}), ElementsAre(IsEmpty(), IsEmpty(), IsEmpty()));
    EXPECT_THAT(selectedPairedContours(proposals, {top, top, {}}, {}), ElementsAre(IsEmpty(), IsEmpty(), IsEmpty()));
    EXPECT_THAT(selectedPairedContours(proposals, {top, {}, left}, {}), ElementsAre(top, IsEmpty(), left));
    // Fewer run lists than proposals: the missing ones found nothing.
    EXPECT_THAT(selectedPairedContours(proposals, {top}, {}), ElementsAre(IsEmpty(), IsEmpty(), IsEmpty()));
}

TEST(SelectedPairedContours, VisualEdgesKeepTheirRunsUnpaired) {
    SupportProposal visual = edge("w", "top");
    visual.identity = "v1";
    const std::vector<SupportRun> runs{{10, 20, 5}};
    EXPECT_THAT(selectedPairedContours({visual, edge("w", "top")}, {runs, runs}, {}), ElementsAre(runs, IsEmpty()));
}

TEST(SelectedPairedContours, DockItemKeepsOnlyLongRunsOnItsBestLine) {
    // 300 wide: runs must be at least 150 long.
    const std::vector<SupportProposal> proposals{edge("dock:a", "top"), edge("dock:a", "top"), edge("dock:a", "top"),
                                                 edge("dock:b", "top")};
    const SupportRun atTwelve{0, 160, 12};
    const SupportRun atTen{20, 180, 10};
    const SupportRun nearTen{0, 155, 10.4};
    const SupportRun shortAtTen{0, 149, 10};
    const SupportRun justOff{0, 155, 10.5};
    const auto kept = selectedPairedContours(
        proposals, {{atTwelve}, {atTen, shortAtTen}, {nearTen, justOff}, {{0, 140, 3}}}, {"dock:a", "dock:b"});
    EXPECT_THAT(kept, ElementsAre(IsEmpty(), ElementsAre(atTen), ElementsAre(nearTen), IsEmpty()));

    // A longer run elsewhere wins over the higher line.
    const SupportRun longer{0, 190, 12};
    EXPECT_THAT(selectedPairedContours({edge("dock:a", "top"), edge("dock:a", "top")}, {{atTen}, {longer}}, {"dock:a"}),
                ElementsAre(IsEmpty(), ElementsAre(longer)));
}

TEST(SelectedPairedContours, DockRunLengthBoundsFollowItemWidth) {
    struct Case {
        double width;
        double shortest;  // the shortest run that still counts
    };
    for (const Case c : {Case{100, 96}, Case{300, 150}, Case{1000, 200}}) {
        SCOPED_TRACE(c.width);
        const std::vector<SupportProposal> proposals{edge("dock:a", "top", c.width)};
        EXPECT_THAT(selectedPairedContours(proposals, {{{0, c.shortest, 5}}}, {"dock:a"})[0], testing::SizeIs(1));
        EXPECT_THAT(selectedPairedContours(proposals, {{{0, c.shortest - 0.5, 5}}}, {"dock:a"})[0], IsEmpty());
    }
}

}  // namespace
}  // namespace scene
