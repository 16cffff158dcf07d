#include "platform/x11/x11_window_facts.h"

#include <algorithm>

namespace scene::x11 {

bool hasType(const WindowTraits& traits, std::string_view type) {
    return std::find(traits.types.begin(), traits.types.end(), type) != traits.types.end();
}

namespace {

bool hasState(const WindowTraits& traits, std::string_view state) {
    return std::find(traits.states.begin(), traits.states.end(), state) != traits.states.end();
}

}  // namespace

int windowLevel(const WindowTraits& traits) {
    // The first type a client names is its preferred one; later ones are
    // fallbacks for managers that do not know it.
    for (const auto& type : traits.types) {
        if (type == "_NET_WM_WINDOW_TYPE_DOCK") return kDockLevel;
        if (type == "_NET_WM_WINDOW_TYPE_NOTIFICATION") return kNotificationLevel;
        if (type == "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU" || type == "_NET_WM_WINDOW_TYPE_POPUP_MENU" ||
            type == "_NET_WM_WINDOW_TYPE_TOOLTIP" || type == "_NET_WM_WINDOW_TYPE_MENU" ||
            type == "_NET_WM_WINDOW_TYPE_COMBO")
            return kPopUpLevel;
        if (type == "_NET_WM_WINDOW_TYPE_NORMAL" || type == "_NET_WM_WINDOW_TYPE_DIALOG") break;
    }
    if (traits.overrideRedirect) return kPopUpLevel;
    if (hasState(traits, "_NET_WM_STATE_ABOVE")) return kAboveLevel;
    return kNormalLevel;
}

bool isListed(const WindowTraits& traits) {
    return !hasState(traits, "_NET_WM_STATE_HIDDEN") && !hasType(traits, "_NET_WM_WINDOW_TYPE_DESKTOP");
}

bool isShownOnMonitors(const Rect& bounds, const std::vector<Rect>& monitors) {
    if (bounds.absWidth() <= 1 && bounds.absHeight() <= 1) return false;
    if (monitors.empty()) return true;
    return std::any_of(monitors.begin(), monitors.end(),
                       [&](const Rect& monitor) { return !bounds.intersection(monitor).isEmpty(); });
}

Rect visibleBounds(const Rect& window, const Extents& decorations, const Extents& shadows, const Rect& holder) {
    const double left = window.x - decorations.left + shadows.left;
    const double top = window.y - decorations.top + shadows.top;
    const double right = window.x + window.width + decorations.right - shadows.right;
    const double bottom = window.y + window.height + decorations.bottom - shadows.bottom;
    const Rect visible{left, top, std::max(0.0, right - left), std::max(0.0, bottom - top)};
    const Rect shown = visible.intersection(holder);
    return shown.isNull() ? visible : shown;
}

nlohmann::json windowListEntry(const WindowFacts& facts) {
    // Bounds and alpha are floating-point numbers, as strict double reads expect.
    nlohmann::json entry = {
        {"kCGWindowNumber", facts.number},
        {"kCGWindowLayer", facts.level},
        {"kCGWindowBounds",
         {{"X", facts.bounds.x},
          {"Y", facts.bounds.y},
          {"Width", facts.bounds.width},
          {"Height", facts.bounds.height}}},
    };
    if (facts.pid) entry["kCGWindowOwnerPID"] = *facts.pid;
    if (facts.opacity && *facts.opacity != 0xFFFFFFFFu)
        entry["kCGWindowAlpha"] = static_cast<double>(*facts.opacity) / static_cast<double>(0xFFFFFFFFu);
    return entry;
}

}  // namespace scene::x11
