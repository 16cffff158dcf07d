#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/records.h"
#include "platform/rect.h"
#include "platform/simulated/ax_node.h"

namespace scene::simulated {

using Color = std::uint32_t;  // 0xRRGGBB

inline constexpr Color kDefaultWindowFill = 0xf4f4f4;
inline constexpr Color kDefaultWindowBorder = 0x5a5a5a;

// A box drawn inside a window: a card, a rule, a sidebar. Absent colours are
// not drawn, so a rule needs only a fill and an outline only a border.
struct Panel {
    Rect bounds;  // relative to the window's origin
    std::optional<Color> fill;
    std::optional<Color> border;
};

// Names a window in the timeline: "pid:number".
struct WindowRef {
    std::int32_t pid = 0;
    std::int64_t number = 0;
    bool operator==(const WindowRef&) const = default;
    std::string text() const;
};

// One on-screen window of the desktop model. A plain value; the desktop keeps
// them front to back under its lock.
struct WindowModel {
    std::int32_t pid = 0;
    std::int64_t number = 0;
    std::int64_t layer = 0;
    std::optional<double> alpha;  // none: the list entry carries no alpha key
    Rect bounds;
    Color fill = kDefaultWindowFill;
    Color border = kDefaultWindowBorder;
    double titleBar = 0;
    std::vector<Panel> panels;
    AXNodePtr ax;             // the AXWindow element; none: no accessibility window
    std::optional<Json> raw;  // the list entry verbatim; such a window is not drawn

    WindowRef ref() const { return {pid, number}; }
    // The window server's dictionary for this window.
    Json windowListEntry() const;
};

}  // namespace scene::simulated
