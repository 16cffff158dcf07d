#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
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

    // Front to back: unmanaged viewable pop-ups, then managed windows on the
    // current desktop. Helper windows that show nothing (isShownOnMonitors)
    // are left out. The window list has no use for WM_CLASS; the workspace's
    // identifiers need it.
    enum class ClassNames { skip, read };
    std::vector<ClientWindow> onScreenWindows(ClassNames classNames = ClassNames::read);
    std::optional<std::int32_t> activeWindowPID();
    std::vector<Monitor> monitors();
    bool screenLocked();
    // Pointer button and modifier mask of the core protocol.
    std::uint16_t pointerMask();

    // Managed clients in the manager's mapping order, on every desktop.
    std::vector<std::uint32_t> clientList();
    std::optional<std::uint32_t> currentDesktop();
    // Owner, class and traits of one client (no geometry); nothing once the
    // window is gone.
    std::optional<ClientWindow> client(std::uint32_t window);
    // The EDID block of a RandR output; empty when it has none.
    std::vector<std::uint8_t> outputEDID(std::uint32_t output);
    // Whether power management has put the displays to sleep; nothing when
    // the server has no power management.
    std::optional<bool> displaysAsleep();

private:
    X11Desktop(xcb_connection_t* connection, std::unique_ptr<xcb_ewmh_connection_t> ewmh, int screen);
    // The helpers below expect the lock to be held.
    std::optional<std::int32_t> pidOf(std::uint32_t window);
    std::vector<Monitor> readMonitors();
    void readTraits(ClientWindow& window);
    // Names of atoms, asked of the server once each; under the lock.
    std::string atomName(xcb_atom_t atom);
    void nameAtoms(const std::vector<xcb_atom_t>& atoms);
    void readClassName(ClientWindow& window);
    xcb_atom_t internAtom(std::string_view name);

    std::mutex mutex_;
    xcb_connection_t* connection_;
    std::unique_ptr<xcb_ewmh_connection_t> ewmh_;
    int screen_;
    std::uint32_t root_;
    std::uint32_t opacityAtom_ = 0;
    std::uint32_t edidAtom_ = 0;  // none when no output has ever had one
    std::map<xcb_atom_t, std::string> atomNames_;  // under the lock; atoms keep their names while the server runs
};

}  // namespace scene::x11
