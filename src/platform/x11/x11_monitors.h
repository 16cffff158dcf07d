#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <vector>

#include "platform/rect.h"

namespace scene::x11 {

// One RandR monitor as the server describes it.
struct RandRMonitor {
    // How the window server numbers displays: the monitor's first output,
    // stable while it is plugged in, or the name atom of a monitor set up by
    // hand with no output. The picker and the streams number them the same.
    std::uint32_t id = 0;
    Rect bounds;
    xcb_atom_t name = XCB_ATOM_NONE;
    bool primary = false;
};

// The screen's monitors, one round trip; none when the server cannot say.
std::vector<RandRMonitor> readRandRMonitors(xcb_connection_t* connection, xcb_window_t root);

}  // namespace scene::x11
