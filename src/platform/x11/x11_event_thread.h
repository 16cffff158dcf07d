#pragma once

#include <xcb/xcb.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace scene::x11 {

// A connection to the X server of a watcher's own, and the thread that reads
// its events. The owner prepares the connection (selections, first reads) on
// its own thread before `start`; from then on the connection belongs to the
// event thread, whose handler sees every event and error and may make
// requests of its own. Destruction shuts the socket down, which wakes the
// thread wherever it waits on the server, joins it and closes the connection.
class X11EventThread {
public:
    using Handler = std::function<void(xcb_connection_t* connection, const xcb_generic_event_t& event)>;

    // Nothing when the display cannot be opened.
    static std::unique_ptr<X11EventThread> open(const std::string& displayName);
    ~X11EventThread();
    X11EventThread(const X11EventThread&) = delete;
    X11EventThread& operator=(const X11EventThread&) = delete;

    xcb_connection_t* connection() const { return connection_; }
    xcb_window_t root() const { return root_; }
    // At most once. The thread ends when the connection does.
    void start(Handler handler);

private:
    X11EventThread(xcb_connection_t* connection, int socket, xcb_window_t root)
        : connection_(connection), socket_(socket), root_(root) {}

    xcb_connection_t* connection_;
    int socket_;  // kept from the start: the library hides it once the connection fails
    xcb_window_t root_;
    std::thread thread_;
};

// Interns an atom on `connection`; XCB_ATOM_NONE when the server does not answer.
xcb_atom_t internAtom(xcb_connection_t* connection, std::string_view name);
// One round trip: once it returns, the server has handled every request sent before it.
void roundTrip(xcb_connection_t* connection);

}  // namespace scene::x11
