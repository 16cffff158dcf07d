#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/workspace.h"
#include "platform/x11/x11_desktop.h"
#include "platform/x11/x11_event_thread.h"
#include "platform/x11/x11_event_tracker.h"

namespace scene::x11 {

// Watches the desktop for the workspace's notifications on a connection and
// thread of its own: root property changes tell of activations
// (_NET_ACTIVE_WINDOW; no active window activates the desktop's owner),
// desktop switches (_NET_CURRENT_DESKTOP) and clients coming and going
// (_NET_CLIENT_LIST); each client's own _NET_WM_STATE tells of hiding. Facts
// are read through the shared desktop, and every event is handed to `deliver`
// on the event thread; moving it to the main queue is the caller's business.
class X11EventWatcher {
public:
    // The application a process answers as, as the workspace would say.
    using Identify = std::function<std::optional<RunningApplication>(std::int32_t pid)>;
    using Deliver = std::function<void(WorkspaceEvent event)>;

    // Nothing when the display cannot be opened. Changes made after this
    // returns are seen.
    static std::unique_ptr<X11EventWatcher> start(const std::string& displayName, std::shared_ptr<X11Desktop> desktop,
                                                  Identify identify, Deliver deliver);

    // The application a process with a managed client answers as, from the
    // clients as the watcher last read them; nothing for other processes.
    // Any thread.
    std::optional<RunningApplication> application(std::int32_t pid) const;

private:
    X11EventWatcher(std::shared_ptr<X11Desktop> desktop, Identify identify, Deliver deliver)
        : desktop_(std::move(desktop)), identify_(std::move(identify)), deliver_(std::move(deliver)) {}

    void handle(xcb_connection_t* connection, const xcb_generic_event_t& event);
    void activeWindowChanged();
    // The owner of the active window, else of the desktop.
    std::optional<std::int32_t> frontPID();
    void currentDesktopChanged();
    // Starts watching new clients before reading them, so no change of
    // theirs falls between the read and the watch.
    void clientListChanged(xcb_connection_t* connection);
    void clientStateChanged(std::uint32_t window);
    std::optional<TrackedClient> readClient(std::uint32_t window);
    // Hands out what the tracker now knows and its events.
    void tracked(const std::vector<WorkspaceEvent>& events);

    std::shared_ptr<X11Desktop> desktop_;
    Identify identify_;
    Deliver deliver_;
    xcb_atom_t activeWindowAtom_ = XCB_ATOM_NONE;
    xcb_atom_t currentDesktopAtom_ = XCB_ATOM_NONE;
    xcb_atom_t clientListAtom_ = XCB_ATOM_NONE;
    xcb_atom_t stateAtom_ = XCB_ATOM_NONE;
    // Touched on the event thread only, once it runs.
    std::optional<std::int32_t> activePID_;
    std::optional<std::uint32_t> currentDesktop_;
    ClientTracker tracker_;
    mutable std::mutex applicationsMutex_;
    std::map<std::int32_t, RunningApplication> applications_;  // under applicationsMutex_
    std::unique_ptr<X11EventThread> thread_;                   // last: joined before the rest goes
};

}  // namespace scene::x11
