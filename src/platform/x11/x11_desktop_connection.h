#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/rect.h"
#include "platform/x11/x11_root_stacking.h"
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

// Who is in front when no window is: the owner of the desktop window (a file
// manager drawing the wallpaper), else the window manager.
struct DesktopOwner {
    std::int32_t pid = 0;
    std::string name;  // the desktop window's WM_CLASS class, or the manager's own name
};

// One connection to the X server and every answer kept from it. The window
// list, the monitors, the screen lock, the owner of the active window and
// what each window says of itself change only with an event, and a pass asks
// for them several times or for every window: the connection listens for
// those events and keeps the answers until one arrives. A thread of the
// connection's own waits for the events and takes each in as it arrives, so
// a kept answer is as fresh as a request would be, but for an event the
// server has not yet sent, and an answer on a desktop where nothing happens
// costs no system call at all. Events are taken in only under the lock and
// in the server's order: the thread waits for the socket, not for an event,
// and a caller takes in what its requests read before it releases the lock.
//
// The window list follows the root's children as the server stacks them
// (RootStacking), the manager's clients inside their frames, and the
// properties they read; a pass on a desktop where nothing moved asks the
// server nothing. Every call but destruction, and the event thread's work,
// happen under the owner's lock; destruction must not, as it joins the
// thread, which may be waiting for that lock.
class DesktopConnection {
public:
    // Nothing when the display cannot be opened or lacks a root window.
    // Events are taken in under `lock`.
    static std::unique_ptr<DesktopConnection> open(const std::string& displayName, std::mutex& lock);
    ~DesktopConnection();
    DesktopConnection(const DesktopConnection&) = delete;
    DesktopConnection& operator=(const DesktopConnection&) = delete;

    // The server closed or broke the connection: nothing it says counts.
    bool broken() const { return xcb_connection_has_error(connection_) != 0; }

    // Front to back in the server's stacking order: the manager's clients in
    // their frames and the pop-ups it never sees (override-redirect windows)
    // on the current desktop. Helper windows that show nothing
    // (isShownOnMonitors) are left out. The window list has no use for
    // WM_CLASS; the workspace's identifiers need it.
    enum class ClassNames { skip, read };
    const std::vector<ClientWindow>& onScreenWindows(ClassNames classNames);
    // The same as raw window-list entries, kept and shared until it changes.
    std::shared_ptr<const nlohmann::json> windowList();
    // The owner of the active window; nothing when no window is active or
    // the one named is gone. The workspace watcher hears of a new one on its
    // own connection, maybe before this one does, and asks the server.
    enum class Answer { kept, asked };
    std::optional<std::int32_t> activeWindowPID(Answer answer);
    std::optional<DesktopOwner> desktopOwner();
    // Kept and shared until they change.
    std::shared_ptr<const std::vector<Monitor>> monitors();
    bool screenLocked();
    // Pointer button and modifier mask of the core protocol.
    std::uint16_t pointerMask();

    // Managed clients in the manager's mapping order, on every desktop; asked.
    std::vector<std::uint32_t> clientList();
    std::optional<std::uint32_t> currentDesktop();
    // Owner, class and traits of one client (no geometry); nothing once the
    // window is gone.
    std::optional<ClientWindow> client(std::uint32_t window);
    // Takes in the events the library has read meanwhile (waiting for a
    // reply, say) and forgets what they change; asks nothing of the system.
    void takeEvents();
    // The EDID block of a RandR output; empty when it has none.
    std::vector<std::uint8_t> outputEDID(std::uint32_t output);
    // Whether power management has put the displays to sleep; nothing when
    // the server has no power management.
    std::optional<bool> displaysAsleep();

private:
    // What a window says of itself, kept from the first read of it until
    // it changes one of these properties or leaves the lists.
    struct KeptProperties {
        std::vector<xcb_atom_t> types;
        std::vector<xcb_atom_t> states;
        Extents frame;                    // _NET_FRAME_EXTENTS: the manager's decorations around the client
        Extents shadows;                  // _GTK_FRAME_EXTENTS: invisible margins the client draws around itself
        std::optional<std::int32_t> pid;  // _NET_WM_PID, else the server's knowledge
        bool ownerAsked = false;          // the server was asked whose it is
        std::optional<std::uint32_t> opacity;
        std::optional<std::uint32_t> desktop;  // _NET_WM_DESKTOP
        std::optional<std::string> className;  // WM_CLASS, read when first asked for
    };
    // Where a managed client sits in the root child that holds it (its
    // frame, or itself without one), kept until the client or the frame's
    // size changes.
    struct Placement {
        xcb_window_t frame = XCB_WINDOW_NONE;
        int left = 0;  // the client's inside corner from the frame's outer one
        int top = 0;
        std::uint16_t width = 0;
        std::uint16_t height = 0;
        bool mapped = false;
        bool stale = false;  // moved in its frame, or the frame changed size: read again
    };

    DesktopConnection(xcb_connection_t* connection, std::unique_ptr<xcb_ewmh_connection_t> ewmh, int screen);
    // On the event thread: every event as it arrives, under `lock`, until
    // the connection ends.
    void watchEvents(std::mutex& lock);
    void forgetAll();
    xcb_atom_t internAtom(std::string_view name);
    std::vector<ClientWindow> readWindows();
    void syncStacking();
    // Finds the frames of clients not yet placed, and places again those
    // that moved; asks about the properties of windows not kept. Each stage
    // sends every request before it waits.
    void placeClients(const std::vector<xcb_window_t>& clients);
    void readProperties(const std::vector<xcb_window_t>& windows);
    void askOwners(const std::vector<xcb_window_t>& windows);
    void readClassNames(std::vector<ClientWindow>& windows);
    bool watchedProperty(xcb_atom_t atom) const;
    void handle(const xcb_generic_event_t& event);
    void listChanged();
    std::optional<std::int32_t> pidOf(std::uint32_t window);
    std::optional<DesktopOwner> windowManager();
    std::vector<Monitor> readMonitors();
    // Names of atoms, asked of the server once each.
    std::string atomName(xcb_atom_t atom);
    void nameAtoms(const std::vector<xcb_atom_t>& atoms);
    void readTraits(ClientWindow& window);
    void readClassName(ClientWindow& window);

    xcb_connection_t* connection_;
    int socket_;  // kept from the start: the library hides it once the connection fails
    std::unique_ptr<xcb_ewmh_connection_t> ewmh_;
    int screen_;
    xcb_window_t root_;
    xcb_atom_t opacityAtom_ = XCB_ATOM_NONE;
    xcb_atom_t shadowsAtom_ = XCB_ATOM_NONE;
    xcb_atom_t edidAtom_ = XCB_ATOM_NONE;          // none when no output has ever had one
    std::map<xcb_atom_t, std::string> atomNames_;  // atoms keep their names while the server runs
    // First event codes of the extensions that tell; zero when it is missing,
    // and then the answer is asked for every time.
    std::uint8_t randrEvents_ = 0;
    std::uint8_t screenSaverEvents_ = 0;

    RootStacking stacking_;
    std::uint32_t stackingRead_ = 0;  // the tree request's sequence: earlier events are in the tree already
    std::optional<std::vector<xcb_window_t>> clients_;  // _NET_CLIENT_LIST
    std::optional<std::optional<std::uint32_t>> currentDesktop_;
    std::map<xcb_window_t, Placement> placements_;  // by client
    std::map<xcb_window_t, KeptProperties> kept_;   // by window
    // Kept answers; empty until asked and after a change.
    std::optional<std::vector<ClientWindow>> windows_;
    bool classNamesRead_ = false;
    std::shared_ptr<const nlohmann::json> windowList_;
    xcb_window_t desktopWindow_ = XCB_WINDOW_NONE;  // a desktop-type client found by the last read
    std::shared_ptr<const std::vector<Monitor>> monitors_;
    std::optional<bool> screenLocked_;
    xcb_window_t activeWindow_ = XCB_WINDOW_NONE;
    std::optional<std::optional<std::int32_t>> activeWindowPID_;
    std::optional<std::optional<DesktopOwner>> windowManager_;
    std::thread events_;  // last: started once everything else is there
};

}  // namespace scene::x11
