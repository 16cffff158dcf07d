#include "platform/x11/x11_window_facts.h"

#include <gtest/gtest.h>

#include "platform/x11/x11_window_server.h"
#include "platform/x11/x11_workspace.h"

namespace scene::x11 {
namespace {

TEST(WindowLevelTest, FollowsTheFirstKnownTypeThenTheState) {
    struct Case {
        WindowTraits traits;
        int level;
    };
    const Case cases[] = {
        {{}, kNormalLevel},
        {{{"_NET_WM_WINDOW_TYPE_NORMAL"}, {}, false}, kNormalLevel},
        {{{"_NET_WM_WINDOW_TYPE_DOCK"}, {}, false}, kDockLevel},
        {{{"_NET_WM_WINDOW_TYPE_NOTIFICATION"}, {}, false}, kNotificationLevel},
        {{{"_NET_WM_WINDOW_TYPE_POPUP_MENU"}, {}, false}, kPopUpLevel},
        {{{"_NET_WM_WINDOW_TYPE_TOOLTIP"}, {}, false}, kPopUpLevel},
        {{{}, {"_NET_WM_STATE_ABOVE"}, false}, kAboveLevel},
        {{{}, {}, true}, kPopUpLevel},
        // An unknown private type falls through to the client's fallback.
        {{{"_KDE_NET_WM_WINDOW_TYPE_OVERRIDE", "_NET_WM_WINDOW_TYPE_DOCK"}, {}, false}, kDockLevel},
        // A normal window stays normal even if a later fallback says dock.
        {{{"_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_WINDOW_TYPE_DOCK"}, {"_NET_WM_STATE_ABOVE"}, false}, kAboveLevel},
    };
    for (const auto& c : cases) EXPECT_EQ(windowLevel(c.traits), c.level);
}

TEST(WindowLevelTest, MinimisedAndDesktopWindowsAreNotListed) {
    EXPECT_TRUE(isListed({{"_NET_WM_WINDOW_TYPE_NORMAL"}, {"_NET_WM_STATE_ABOVE"}, false}));
    EXPECT_FALSE(isListed({{}, {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_HIDDEN"}, false}));
    EXPECT_FALSE(isListed({{"_NET_WM_WINDOW_TYPE_DESKTOP"}, {}, false}));
}

TEST(WindowLevelTest, HelpersThatShowNothingAreNotListed) {
    const std::vector<Rect> monitors = {{0, 0, 1280, 800}, {1280, 0, 1920, 1080}};
    struct Case {
        Rect bounds;
        bool shown;
    };
    const Case cases[] = {
        {{-100, -100, 1, 1}, false},    // a manager's check window
        {{10, 10, 1, 1}, false},        // a single pixel, even on screen
        {{10, 10, 1, 40}, true},        // thin is not a pixel
        {{-50, 10, 50, 40}, false},     // touches the left edge from outside
        {{-50, 10, 51, 40}, true},      // one column on screen
        {{0, 800, 200, 100}, false},    // below the first monitor, touching it
        {{1200, 900, 200, 100}, true},  // below the first, on the taller second
        {{3200, 0, 100, 100}, false},   // right of the second
    };
    for (const auto& c : cases) EXPECT_EQ(isShownOnMonitors(c.bounds, monitors), c.shown) << c.bounds.x;
    // Without monitors only the size counts.
    EXPECT_TRUE(isShownOnMonitors({-5000, -5000, 200, 200}, {}));
    EXPECT_FALSE(isShownOnMonitors({0, 0, 1, 1}, {}));
}

TEST(VisibleBoundsTest, AddsTheDecorationsTakesAwayTheShadowsAndShowsNoMoreThanTheFrame) {
    struct Case {
        Rect window;
        Extents decorations;
        Extents shadows;
        Rect holder;
        Rect visible;
    };
    const Case cases[] = {
        // Framed by the manager.
        {{101, 120, 484, 316}, {1, 1, 20, 5}, {}, {100, 100, 486, 341}, {100, 100, 486, 341}},
        // Undecorated, drawing its own shadows (left, right, top, bottom).
        {{100, 100, 548, 448}, {}, {24, 24, 16, 32}, {100, 100, 548, 448}, {124, 116, 500, 400}},
        // Shaded: the frame is the title bar alone.
        {{101, 120, 484, 316}, {1, 1, 20, 5}, {}, {100, 100, 486, 20}, {100, 100, 486, 20}},
        // A frame wider than the decorations say (invisible resize borders).
        {{110, 130, 400, 300}, {2, 2, 24, 2}, {}, {98, 96, 424, 344}, {108, 106, 404, 326}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(visibleBounds(c.window, c.decorations, c.shadows, c.holder), c.visible) << c.window.x;
}

TEST(WindowListEntryTest, CarriesTheServerKeysWithFloatingBounds) {
    WindowFacts facts;
    facts.pid = 412;
    facts.number = 0x2a00007;
    facts.bounds = Rect{10, 20, 640, 480};
    facts.level = kDockLevel;
    facts.opacity = 0xFFFFFFFFu;
    const auto entry = windowListEntry(facts);
    EXPECT_EQ(entry,
              (nlohmann::json{{"kCGWindowOwnerPID", 412},
                              {"kCGWindowNumber", 0x2a00007u},
                              {"kCGWindowLayer", 20},
                              {"kCGWindowBounds", {{"X", 10.0}, {"Y", 20.0}, {"Width", 640.0}, {"Height", 480.0}}}}));
    EXPECT_TRUE(entry["kCGWindowBounds"]["X"].is_number_float());
    EXPECT_TRUE(entry["kCGWindowNumber"].is_number_unsigned());

    facts.pid.reset();
    facts.opacity = 0x7FFFFFFFu;
    const auto translucent = windowListEntry(facts);
    EXPECT_FALSE(translucent.contains("kCGWindowOwnerPID"));
    ASSERT_TRUE(translucent["kCGWindowAlpha"].is_number_float());
    EXPECT_NEAR(translucent["kCGWindowAlpha"].get<double>(), 0.5, 1e-6);
}

TEST(BundleIdentifierTest, DockAndNotificationTypesNameTheSystemApplications) {
    ClientWindow window;
    window.className = "Panel";
    EXPECT_EQ(bundleIdentifierOf(window), "Panel");
    window.traits.types = {"_NET_WM_WINDOW_TYPE_DOCK"};
    EXPECT_EQ(bundleIdentifierOf(window), kDockBundleID);
    window.traits.types = {"_NET_WM_WINDOW_TYPE_NOTIFICATION"};
    EXPECT_EQ(bundleIdentifierOf(window), kNotificationUIBundleID);
    window.traits.types.clear();
    window.className.clear();
    EXPECT_FALSE(bundleIdentifierOf(window));
}

TEST(ModifierFlagsTest, MapsShiftControlAltAndSuper) {
    EXPECT_EQ(modifierFlagsFromMask(0), 0u);
    EXPECT_EQ(modifierFlagsFromMask(1 << 0), 0x20000u);
    EXPECT_EQ(modifierFlagsFromMask(1 << 2), 0x40000u);
    EXPECT_EQ(modifierFlagsFromMask(1 << 3), 0x80000u);
    EXPECT_EQ(modifierFlagsFromMask((1 << 6) | (1 << 8) | (1 << 1)), 0x100000u);  // buttons and caps lock ignored
}

}  // namespace
}  // namespace scene::x11
