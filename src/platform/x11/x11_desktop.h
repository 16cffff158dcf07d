#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/rect.h"
#include "platform/x11/x11_window_facts.h"

namespace scene::x11 {

// One top-level window as the last read found it.
struct ClientWindow {
    WindowFacts facts;
    WindowTraits traits;
    std::string className;  // WM_CLASS class, empty when unset
};

struct Monitor {
    std::uint32_t id = 0;  // the monitor's first output, stable while it is plugged in
    Rect bounds;
    std::string name;  // connector name
};

// The connection to the X server, shared by the back-end's services. Every
// request goes through it under one lock, so services may be called from any
// thread; the replies are turned into plain values before the lock is released.
class X11Desktop {
public:
    // Nothing when the display cannot be opened or lacks a root window.
    static std::shared_ptr<X11Desktop> open(const std::string& displayName);
    ~X11Desktop();
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    // Managed windows on the current desktop front to back, then unmanaged
    // viewable pop-ups in front of them.
    std::vector<ClientWindow> onScreenWindows();
    std::optional<std::int32_t> activeWindowPID();
    std::vector<Monitor> monitors();
    bool screenLocked();
    // Pointer button and modifier mask of the core protocol.
    std::uint16_t pointerMask();

private:
    X11Desktop(xcb_connection_t* connection, std::unique_ptr<xcb_ewmh_connection_t> ewmh, int screen);
    std::optional<std::int32_t> pidOf(std::uint32_t window);

    std::mutex mutex_;
    xcb_connection_t* connection_;
    std::unique_ptr<xcb_ewmh_connection_t> ewmh_;
    int screen_;
    std::uint32_t root_;
    std::uint32_t opacityAtom_ = 0;
};

}  // namespace scene::x11
