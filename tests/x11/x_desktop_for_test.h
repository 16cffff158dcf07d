#pragma once

// Driving the private X desktop the way a user and the window manager would:
// finding, activating and framing clients, switching desktops, running tools
// to completion, and a dock-type window of the test's own.
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "x_session_for_test.h"

namespace scene::x11::testing {

// Runs a program to its end; its exit status, or -1 when it could not start
// or died by a signal.
inline int runToEnd(std::vector<std::string> argv, const std::vector<std::string>& extraEnvironment) {
    return Child(std::move(argv), extraEnvironment).wait();
}

// The managed client that says it belongs to `pid`.
inline std::optional<xcb_window_t> clientOf(xcb_ewmh_connection_t& ewmh, pid_t pid) {
    xcb_ewmh_get_windows_reply_t clients;
    if (xcb_ewmh_get_client_list_reply(&ewmh, xcb_ewmh_get_client_list(&ewmh, 0), &clients, nullptr) == 0)
        return std::nullopt;
    std::optional<xcb_window_t> found;
    for (std::uint32_t i = 0; i < clients.windows_len && !found; ++i) {
        std::uint32_t owner = 0;
        if (xcb_ewmh_get_wm_pid_reply(&ewmh, xcb_ewmh_get_wm_pid(&ewmh, clients.windows[i]), &owner, nullptr) != 0 &&
            static_cast<pid_t>(owner) == pid)
            found = clients.windows[i];
    }
    xcb_ewmh_get_windows_reply_wipe(&clients);
    return found;
}

inline std::optional<xcb_window_t> activeWindow(xcb_ewmh_connection_t& ewmh) {
    xcb_window_t active = XCB_WINDOW_NONE;
    if (xcb_ewmh_get_active_window_reply(&ewmh, xcb_ewmh_get_active_window(&ewmh, 0), &active, nullptr) == 0 ||
        active == XCB_WINDOW_NONE)
        return std::nullopt;
    return active;
}

// Asks the manager as a pager would, which it always honours.
inline void activate(xcb_ewmh_connection_t& ewmh, xcb_window_t window) {
    xcb_ewmh_request_change_active_window(&ewmh, 0, window, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, XCB_CURRENT_TIME,
                                          XCB_WINDOW_NONE);
    xcb_flush(ewmh.connection);
}

inline void switchDesktop(xcb_ewmh_connection_t& ewmh, std::uint32_t desktop) {
    xcb_ewmh_request_change_current_desktop(&ewmh, 0, desktop, XCB_CURRENT_TIME);
    xcb_flush(ewmh.connection);
}

struct Frame {
    double x = 0, y = 0, width = 0, height = 0;
};

// The top-level window that holds `window` (the manager's frame, or the
// window itself when it is not reparented), as the root sees it.
inline std::optional<Frame> frameOf(xcb_connection_t* connection, xcb_window_t window) {
    for (;;) {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr);
        if (tree == nullptr) return std::nullopt;
        const bool topLevel = tree->parent == tree->root;
        const xcb_window_t parent = tree->parent;
        std::free(tree);
        if (topLevel) break;
        window = parent;
    }
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
    if (geometry == nullptr) return std::nullopt;
    const Frame frame{static_cast<double>(geometry->x), static_cast<double>(geometry->y),
                      static_cast<double>(geometry->width + 2 * geometry->border_width),
                      static_cast<double>(geometry->height + 2 * geometry->border_width)};
    std::free(geometry);
    return frame;
}

// A dock-type window (a panel) owned, by its _NET_WM_PID, by this test
// process, on a connection of its own; gone with the object.
class DockWindow {
public:
    DockWindow(const std::string& display, const Frame& bounds) {
        connection_ = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(connection_) != 0) return;
        xcb_ewmh_connection_t ewmh{};
        if (xcb_ewmh_init_atoms_replies(&ewmh, xcb_ewmh_init_atoms(connection_, &ewmh), nullptr) == 0) return;
        xcb_screen_t* screen = ewmh.screens[0];
        window_ = xcb_generate_id(connection_);
        const std::uint32_t background = screen->white_pixel;
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, static_cast<std::int16_t>(bounds.x),
                          static_cast<std::int16_t>(bounds.y), static_cast<std::uint16_t>(bounds.width),
                          static_cast<std::uint16_t>(bounds.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL, &background);
        xcb_atom_t type = ewmh._NET_WM_WINDOW_TYPE_DOCK;
        xcb_ewmh_set_wm_window_type(&ewmh, window_, 1, &type);
        xcb_ewmh_set_wm_pid(&ewmh, window_, static_cast<std::uint32_t>(getpid()));
        constexpr char kClass[] = "panel\0Panel";
        xcb_icccm_set_wm_class(connection_, window_, sizeof kClass, kClass);
        // Placed where it asks, as panels are.
        xcb_size_hints_t hints{};
        xcb_icccm_size_hints_set_position(&hints, 1, static_cast<std::int32_t>(bounds.x),
                                          static_cast<std::int32_t>(bounds.y));
        xcb_icccm_set_wm_normal_hints(connection_, window_, &hints);
        xcb_map_window(connection_, window_);
        xcb_flush(connection_);
        xcb_ewmh_connection_wipe(&ewmh);
    }
    ~DockWindow() {
        if (connection_ != nullptr) xcb_disconnect(connection_);
    }
    DockWindow(const DockWindow&) = delete;
    DockWindow& operator=(const DockWindow&) = delete;

    xcb_window_t window() const { return window_; }

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t window_ = XCB_WINDOW_NONE;
};

}  // namespace scene::x11::testing
