#include "platform/x11/x11_root_stacking.h"

#include <gtest/gtest.h>

#include <functional>

namespace scene::x11 {
namespace {

constexpr xcb_window_t kRoot = 0x100;
constexpr xcb_window_t kA = 1, kB = 2, kC = 3, kD = 4, kNowhere = 99;

template <typename Event>
bool apply(RootStacking& stacking, Event event, std::uint8_t type) {
    event.response_type = type;
    return stacking.apply(reinterpret_cast<const xcb_generic_event_t&>(event));
}

std::vector<xcb_window_t> order(const RootStacking& stacking) {
    std::vector<xcb_window_t> ids;
    for (const TopLevel& top : stacking.bottomToTop()) ids.push_back(top.id);
    return ids;
}

RootStacking threeMapped() {
    RootStacking stacking;
    stacking.reset(
        kRoot,
        {{kA, 0, 0, 10, 10, 0, true, false}, {kB, 0, 0, 10, 10, 0, true, false}, {kC, 0, 0, 10, 10, 0, true, true}});
    return stacking;
}

xcb_configure_notify_event_t configure(xcb_window_t window, xcb_window_t above, std::int16_t x = 0) {
    xcb_configure_notify_event_t event{};
    event.event = kRoot;
    event.window = window;
    event.above_sibling = above;
    event.x = x;
    event.width = event.height = 10;
    return event;
}

TEST(RootStackingTest, FollowsCreationMappingRestackingAndDeparture) {
    RootStacking stacking = threeMapped();
    xcb_create_notify_event_t created{};
    created.parent = kRoot;
    created.window = kD;
    EXPECT_FALSE(apply(stacking, created, XCB_CREATE_NOTIFY)) << "a new window is not shown yet";
    xcb_map_notify_event_t mapped{};
    mapped.event = kRoot;
    mapped.window = kD;
    mapped.override_redirect = 1;
    EXPECT_TRUE(apply(stacking, mapped, XCB_MAP_NOTIFY));
    EXPECT_TRUE(stacking.find(kD)->overrideRedirect);
    EXPECT_EQ(order(stacking), (std::vector<xcb_window_t>{kA, kB, kC, kD}));

    EXPECT_TRUE(apply(stacking, configure(kD, XCB_WINDOW_NONE), XCB_CONFIGURE_NOTIFY)) << "lowered to the bottom";
    EXPECT_TRUE(apply(stacking, configure(kA, kC), XCB_CONFIGURE_NOTIFY)) << "raised above C";
    EXPECT_EQ(order(stacking), (std::vector<xcb_window_t>{kD, kB, kC, kA}));
    EXPECT_FALSE(apply(stacking, configure(kB, kD), XCB_CONFIGURE_NOTIFY)) << "told what is known";
    EXPECT_TRUE(apply(stacking, configure(kB, kD, 40), XCB_CONFIGURE_NOTIFY)) << "moved";
    EXPECT_EQ(stacking.find(kB)->x, 40);
    EXPECT_FALSE(apply(stacking, configure(kB, kA, 80), XCB_CONFIGURE_NOTIFY | 0x80)) << "a client's word";
    EXPECT_EQ(stacking.find(kB)->x, 40);

    xcb_circulate_notify_event_t circulated{};
    circulated.event = kRoot;
    circulated.window = kD;
    circulated.place = XCB_PLACE_ON_TOP;
    EXPECT_TRUE(apply(stacking, circulated, XCB_CIRCULATE_NOTIFY));
    EXPECT_EQ(order(stacking), (std::vector<xcb_window_t>{kB, kC, kA, kD}));

    xcb_unmap_notify_event_t unmapped{};
    unmapped.event = kRoot;
    unmapped.window = kC;
    EXPECT_TRUE(apply(stacking, unmapped, XCB_UNMAP_NOTIFY));
    EXPECT_FALSE(apply(stacking, configure(kC, kB, 10), XCB_CONFIGURE_NOTIFY)) << "an unmapped move shows nothing";
    xcb_reparent_notify_event_t reparented{};
    reparented.event = kRoot;
    reparented.window = kA;
    reparented.parent = kNowhere;
    EXPECT_TRUE(apply(stacking, reparented, XCB_REPARENT_NOTIFY)) << "framed by the manager";
    xcb_destroy_notify_event_t destroyed{};
    destroyed.event = kRoot;
    destroyed.window = kB;
    EXPECT_TRUE(apply(stacking, destroyed, XCB_DESTROY_NOTIFY));
    EXPECT_EQ(order(stacking), (std::vector<xcb_window_t>{kC, kD}));
    EXPECT_TRUE(stacking.synced());
}

TEST(RootStackingTest, FallsOutOfStepOnWhatItCannotPlace) {
    xcb_map_notify_event_t unknown{};
    unknown.event = kRoot;
    unknown.window = kNowhere;
    xcb_reparent_notify_event_t arriving{};
    arriving.event = kRoot;
    arriving.window = kNowhere;
    arriving.parent = kRoot;
    const std::function<bool(RootStacking&)> cases[] = {
        [&](RootStacking& s) { return apply(s, unknown, XCB_MAP_NOTIFY); },
        [&](RootStacking& s) { return apply(s, configure(kA, kNowhere), XCB_CONFIGURE_NOTIFY); },
        [&](RootStacking& s) { return apply(s, arriving, XCB_REPARENT_NOTIFY); },
    };
    for (const auto& event : cases) {
        RootStacking stacking = threeMapped();
        event(stacking);
        EXPECT_FALSE(stacking.synced());
    }
}

TEST(TopLevelTest, TheOuterRectangleHoldsTheBorder) {
    const TopLevel top{kA, 10, 20, 100, 50, 2, true, true};
    EXPECT_EQ(top.outer(), (Rect{10, 20, 104, 54}));
}

}  // namespace
}  // namespace scene::x11
