#include "accessibility/dock_sampler.h"

#include <gtest/gtest.h>

#include "accessibility/fake_platform_for_test.h"
#include "platform/manual_runtime.h"

namespace scene {
namespace {

constexpr std::int32_t kDockPID = 77;

Json dockWindow(Rect bounds, std::optional<double> alpha = std::nullopt, int layer = 20, std::int32_t pid = kDockPID,
                int number = 5) {
    Json entry{
        {"kCGWindowOwnerPID", pid},
        {"kCGWindowNumber", number},
        {"kCGWindowLayer", layer},
        {"kCGWindowBounds", {{"X", bounds.x}, {"Y", bounds.y}, {"Width", bounds.width}, {"Height", bounds.height}}}};
    if (alpha) entry["kCGWindowAlpha"] = *alpha;
    return entry;
}

class DockSamplerTest : public ::testing::Test {
protected:
    DockSamplerTest() {
        platform.server.displays = {{1, {0, 0, 1440, 900}}, {2, {1440, 0, 1440, 900}}};
        platform.space.screenList = {Screen{1}, Screen{std::nullopt}, Screen{2}};
    }

    // A Dock application whose first child is a shelf list with `frame`.
    void dockTree(std::optional<Rect> frame) {
        fakes::FakeAccessibility& ax = platform.ax;
        const Element application = ax.make();
        const Element list = ax.make();
        ax.set(list, "AXRole", std::string("AXList"));
        if (frame) {
            ax.set(list, "AXPosition", Point{frame->x, frame->y});
            ax.set(list, "AXSize", Size{frame->width, frame->height});
        }
        ax.set(application, "AXChildren", std::vector<Element>{list});
        ax.setApplication(kDockPID, application);
    }

    fakes::FakePlatform platform;
    ManualRuntime runtime;
    DockSampler dock{platform, runtime};
};

TEST_F(DockSamplerTest, WindowPathPublishesTheClippedShelf) {
    EXPECT_EQ(dock.status, "starting");
    dock.sample({kDockPID}, Json::array({dockWindow({120, 820, 1200, 90})}));

    ASSERT_EQ(dock.items.size(), 1u);
    const Json& shelf = dock.items[0];
    EXPECT_EQ(shelf, (Json{{"id", "dock:1"},
                           {"displayID", 1u},
                           {"side", "bottom"},
                           {"x", 120.0},
                           {"y", 820.0},
                           {"width", 1200.0},
                           {"height", 80.0}}));
    EXPECT_TRUE(shelf["displayID"].is_number_unsigned());
    EXPECT_TRUE(shelf["x"].is_number_float());
    EXPECT_EQ(dock.status, "ready");
    EXPECT_EQ(dock.received, runtime.now());
}

TEST_F(DockSamplerTest, WindowPathFilters) {
    struct Case {
        const char* name;
        Json entry;
        bool kept;
    };
    const Case cases[] = {
        {"right shelf on the second display", dockWindow({2810, 150, 70, 600}), true},
        {"nearly transparent", dockWindow({120, 820, 1200, 70}, 0.05), false},
        {"faint but visible", dockWindow({120, 820, 1200, 70}, 0.051), true},
        {"other level", dockWindow({120, 820, 1200, 70}, std::nullopt, 0), false},
        {"other owner", dockWindow({120, 820, 1200, 70}, std::nullopt, 20, 78), false},
        {"no bounds", Json{{"kCGWindowOwnerPID", kDockPID}, {"kCGWindowLayer", 20}}, false},
        {"not an edge shelf", dockWindow({600, 300, 70, 600}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DockSampler sampler(platform, runtime);
        platform.ax.trusted = false;  // keeps the Accessibility read out of the picture
        sampler.sample({kDockPID}, Json::array({c.entry}));
        EXPECT_EQ(sampler.items.size(), c.kept ? 1u : 0u);
        EXPECT_EQ(sampler.status, c.kept ? "ready" : "permission-required");
    }
}

TEST_F(DockSamplerTest, AccessibilityReadWhenNoWindowShows) {
    dockTree(Rect{0, 150, 70, 600});
    dock.sample({kDockPID}, Json::array());
    EXPECT_TRUE(dock.busy);
    EXPECT_EQ(dock.status, "starting") << "the read reports on the main queue later";

    runtime.runUntilIdle();
    EXPECT_FALSE(dock.busy);
    ASSERT_EQ(dock.items.size(), 1u);
    EXPECT_EQ(dock.items[0]["side"], "left");
    EXPECT_EQ(dock.status, "ready");

    // A Dock that hides itself shows no shelf list frame.
    dockTree(std::nullopt);
    runtime.advance(0.1);
    dock.sample({kDockPID}, Json::array());
    EXPECT_FALSE(dock.busy) << "reads start at least 0.16 s apart";
    runtime.advance(0.07);
    dock.sample({kDockPID}, Json::array());
    runtime.runUntilIdle();
    EXPECT_TRUE(dock.items.empty());
    EXPECT_EQ(dock.status, "hidden");
}

TEST(DockPlacementTest, FirstQualifyingDisplayInListOrder) {
    const DockSampler::Display left{1, {0, 0, 1440, 900}};
    const DockSampler::Display right{2, {1440, 0, 1440, 900}};
    struct Case {
        const char* name;
        Rect rect;
        std::vector<DockSampler::Display> displays;
        std::optional<Json> record;
    };
    const auto record = [](const char* id, std::uint32_t display, const char* side, Rect r) {
        return Json{{"id", id}, {"displayID", display}, {"side", side},      {"x", r.x},
                    {"y", r.y}, {"width", r.width},     {"height", r.height}};
    };
    const Case cases[] = {
        {"bottom across both, left first",
         {1000, 830, 1200, 70},
         {left, right},
         record("dock:1", 1, "bottom", {1000, 830, 440, 70})},
        {"bottom across both, right first",
         {1000, 830, 1200, 70},
         {right, left},
         record("dock:2", 2, "bottom", {1440, 830, 760, 70})},
        {"8-point sliver on the first display",
         {1432, 150, 70, 600},
         {left, right},
         record("dock:2", 2, "left", {1440, 150, 62, 600})},
        {"touching edge only", {1440, 150, 70, 600}, {left, right}, record("dock:2", 2, "left", {1440, 150, 70, 600})},
        {"on no display", {3000, 830, 1200, 70}, {left, right}, std::nullopt},
        {"no displays", {1000, 830, 1200, 70}, {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DockSampler::placed(c.rect, c.displays), c.record);
    }
}

TEST_F(DockSamplerTest, KeepsItsRecordsWhileTheDockStandsStillAndFollowsItWhenItMoves) {
    dock.sample({kDockPID}, Json::array({dockWindow({120, 820, 1200, 80})}));
    ASSERT_EQ(dock.items.size(), 1u);
    const Json* kept = &dock.items[0];
    dock.sample({kDockPID}, Json::array({dockWindow({120, 820, 1200, 80})}));
    EXPECT_EQ(&dock.items[0], kept) << "the same shelf is not built again";

    dock.sample({kDockPID}, Json::array({dockWindow({100, 830, 1200, 70})}));
    ASSERT_EQ(dock.items.size(), 1u);
    EXPECT_EQ(dock.items[0]["x"], 100.0);
    EXPECT_EQ(dock.items[0]["height"], 70.0);

    // An Accessibility read that answers after the window showed again
    // replaces the window's shelf; the next pass brings the window's back.
    platform.ax.trusted = true;
    dockTree(Rect{0, 850, 1440, 50});
    runtime.advance(1);
    dock.sample({kDockPID}, Json::array());
    dock.sample({kDockPID}, Json::array({dockWindow({100, 830, 1200, 70})}));
    runtime.runUntilIdle();
    ASSERT_EQ(dock.items.size(), 1u);
    EXPECT_EQ(dock.items[0]["height"], 50.0);
    dock.sample({kDockPID}, Json::array({dockWindow({100, 830, 1200, 70})}));
    ASSERT_EQ(dock.items.size(), 1u);
    EXPECT_EQ(dock.items[0]["height"], 70.0);
}

TEST_F(DockSamplerTest, ShelvesSharingADisplayEachNameTheirWindow) {
    const auto ids = [&](const Json& windows) {
        dock.sample({kDockPID}, windows);
        std::vector<std::string> found;
        for (const Json& item : dock.items) found.push_back(item["id"]);
        return found;
    };
    const Json bottom = dockWindow({120, 820, 1200, 80}, std::nullopt, 20, kDockPID, 31);
    const Json left = dockWindow({0, 100, 60, 700}, std::nullopt, 20, kDockPID, 32);
    const Json other = dockWindow({1560, 820, 1200, 80}, std::nullopt, 20, kDockPID, 33);
    EXPECT_EQ(ids(Json::array({bottom, other})), (std::vector<std::string>{"dock:1", "dock:2"}));
    EXPECT_EQ(ids(Json::array({bottom, left, other})), (std::vector<std::string>{"dock:1:31", "dock:1:32", "dock:2"}));
    // Stable while the panels stay, whatever moves.
    const Json moved = dockWindow({0, 120, 60, 600}, std::nullopt, 20, kDockPID, 32);
    EXPECT_EQ(ids(Json::array({moved, bottom, other})), (std::vector<std::string>{"dock:1:32", "dock:1:31", "dock:2"}));
    EXPECT_EQ(ids(Json::array({bottom, other})), (std::vector<std::string>{"dock:1", "dock:2"}));
}

TEST_F(DockSamplerTest, ItemsExpireWhenNothingRefreshesThem) {
    dock.sample({kDockPID}, Json::array({dockWindow({120, 820, 1200, 70})}));
    ASSERT_EQ(dock.items.size(), 1u);

    platform.ax.trusted = true;
    dock.busy = true;  // an Accessibility read still out: only expiry can change the items
    runtime.advance(0.69);
    dock.sample({kDockPID}, Json::array());
    EXPECT_EQ(dock.items.size(), 1u);
    runtime.advance(0.02);
    dock.sample({kDockPID}, Json::array());
    EXPECT_TRUE(dock.items.empty());
    EXPECT_EQ(dock.status, "ready") << "expiry leaves the status";
}

}  // namespace
}  // namespace scene
