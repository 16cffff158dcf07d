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
//
// The monitors, the screen lock, the owner of the active window and what
// each window says of itself in its properties change only with an event,
// and a pass asks for them several times or for every window: the connection
// listens for those events and keeps the answers until one arrives. Events
// are taken in before each answer, so a kept answer is as fresh as a request
// would be, but for an event the server has not yet sent.
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
    // The owner of the active window. The workspace watcher hears of a new
    // one on its own connection, maybe before this one does, and asks the
    // server.
    enum class Answer { kept, asked };
    std::optional<std::int32_t> activeWindowPID(Answer answer = Answer::kept);
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
    // Takes in the events waiting on the connection. The workspace watcher
    // calls it as the same events reach it, so that they do not pile up in
    // the server while nobody asks (a paused sampler).
    void takeWaitingEvents();
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
    std::vector<Monitor> keptMonitors();
    // Takes in the events that have arrived and forgets what they change.
    void takeEvents();
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
    std::uint32_t edidAtom_ = 0;                   // none when no output has ever had one
    std::map<xcb_atom_t, std::string> atomNames_;  // under the lock; atoms keep their names while the server runs
    std::uint32_t activeWindowAtom_ = 0;
    // First event codes of the extensions that tell; zero when it is missing,
    // and then the answer is asked for every time.
    std::uint8_t randrEvents_ = 0;
    std::uint8_t screenSaverEvents_ = 0;
    // What a window says of itself, kept from the first read of it until
    // it changes a property or leaves the lists.
    struct KeptProperties {
        std::vector<xcb_atom_t> types;
        std::vector<xcb_atom_t> states;
        xcb_ewmh_get_extents_reply_t extents{};  // _NET_FRAME_EXTENTS
        std::optional<std::int32_t> pid;         // _NET_WM_PID, else the server's knowledge
        bool ownerAsked = false;                 // the server was asked whose it is
        std::optional<std::uint32_t> opacity;
        std::optional<std::uint32_t> desktop;  // _NET_WM_DESKTOP
        std::optional<std::string> className;  // WM_CLASS, read when first asked for
    };
    std::map<std::uint32_t, KeptProperties> kept_;  // by window, under the lock
    // Kept answers, under the lock; empty until asked and after a change.
    std::optional<std::vector<Monitor>> monitors_;
    std::optional<bool> screenLocked_;
    std::optional<std::optional<std::int32_t>> activeWindowPID_;
};

}  // namespace scene::x11
