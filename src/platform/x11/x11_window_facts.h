#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rect.h"

namespace scene::x11 {

// Window levels the list reports, chosen so the logic's level tests read an X
// desktop the way they read any other: docks sit at the Dock level.
inline constexpr int kNormalLevel = 0;
inline constexpr int kAboveLevel = 3;
inline constexpr int kDockLevel = 20;
inline constexpr int kNotificationLevel = 25;
inline constexpr int kPopUpLevel = 101;

// What the window manager says about a top-level window: its EWMH type and
// state atoms by name, and whether it bypasses the manager.
struct WindowTraits {
    std::vector<std::string> types;
    std::vector<std::string> states;
    bool overrideRedirect = false;
};

int windowLevel(const WindowTraits& traits);
// Minimised and desktop-type windows are not on screen as far as the list goes.
bool isListed(const WindowTraits& traits);
// Managers and toolkits keep helper windows mapped out of sight: a single
// pixel, or wholly off every monitor (a window touching a monitor's edge from
// outside shows nothing of itself). With no monitors known only the size
// counts.
bool isShownOnMonitors(const Rect& bounds, const std::vector<Rect>& monitors);
bool hasType(const WindowTraits& traits, std::string_view type);

// Margins around a window's own rectangle, as the extents properties give them.
struct Extents {
    double left = 0;
    double right = 0;
    double top = 0;
    double bottom = 0;
};

// What the user sees of a top-level window: its own rectangle (in root
// coordinates) with the manager's decorations around it and without the
// shadows a client that draws its own decorations paints around itself, and
// never more than the root child that holds it shows (a shaded window's frame
// is the title bar alone).
Rect visibleBounds(const Rect& window, const Extents& decorations, const Extents& shadows, const Rect& holder);

// The facts of one listed window, in root coordinates including the frame.
struct WindowFacts {
    std::optional<std::int32_t> pid;
    std::uint32_t number = 0;
    Rect bounds;
    int level = kNormalLevel;
    std::optional<std::uint32_t> opacity;  // _NET_WM_WINDOW_OPACITY, 0xFFFFFFFF opaque
};

// One raw window-list entry with the keys every window server hands out.
nlohmann::json windowListEntry(const WindowFacts& facts);

}  // namespace scene::x11
