#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <vector>

#include "platform/rect.h"

namespace scene::x11 {

// One child of the root window as the server last described it.
struct TopLevel {
    xcb_window_t id = XCB_WINDOW_NONE;
    std::int16_t x = 0;  // the outer corner, border included
    std::int16_t y = 0;
    std::uint16_t width = 0;  // inside the border
    std::uint16_t height = 0;
    std::uint16_t border = 0;
    bool mapped = false;
    bool overrideRedirect = false;

    // Border included, in root coordinates.
    Rect outer() const;
    bool operator==(const TopLevel&) const = default;
};

// The root's children in the server's stacking order, kept the way a
// compositor keeps them: the tree is read once, and from then on every
// creation, destruction, mapping, reparenting, restacking and move the
// root's substructure notifications tell of is applied in order. A
// notification that does not fit what is known (a window never heard of, a
// sibling that is not there, a window coming to the root from elsewhere,
// whose size it does not tell) leaves the stacking out of step, and the
// owner reads the tree afresh. A plain value; the desktop connection owns one
// under its lock.
class RootStacking {
public:
    void reset(xcb_window_t root, std::vector<TopLevel> bottomToTop);
    bool synced() const { return synced_; }
    // One event; those not about the root's children are ignored, and so
    // are events sent by clients (the server's own are the truth). True when
    // what a mapped window shows may have changed: its place, its size, its
    // stacking, or whether it is there at all.
    bool apply(const xcb_generic_event_t& event);
    const std::vector<TopLevel>& bottomToTop() const { return windows_; }
    // Nothing for a window that is no child of the root.
    const TopLevel* find(xcb_window_t window) const;

private:
    std::vector<TopLevel>::iterator at(xcb_window_t window);
    // Moves the window at `from` to just above `sibling` (to the bottom for
    // none); false when the sibling is unknown.
    bool restack(std::vector<TopLevel>::iterator from, xcb_window_t sibling);
    bool lost();

    xcb_window_t root_ = XCB_WINDOW_NONE;
    std::vector<TopLevel> windows_;  // bottom to top
    bool synced_ = false;
};

}  // namespace scene::x11
