#include "platform/x11/x11_event_thread.h"

#include <sys/socket.h>

#include <cstdlib>

namespace scene::x11 {

std::unique_ptr<X11EventThread> X11EventThread::open(const std::string& displayName) {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screen);
    if (connection == nullptr || xcb_connection_has_error(connection) != 0) {
        if (connection != nullptr) xcb_disconnect(connection);
        return nullptr;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screen && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem == 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<X11EventThread>(
        new X11EventThread(connection, xcb_get_file_descriptor(connection), screens.data->root));
}

X11EventThread::~X11EventThread() {
    if (thread_.joinable()) {
        // The socket stays open until the disconnect below, so the descriptor
        // cannot be reused under the thread's feet.
        ::shutdown(socket_, SHUT_RDWR);
        thread_.join();
    }
    xcb_disconnect(connection_);
}

void X11EventThread::start(Handler handler) {
    if (thread_.joinable()) return;
    thread_ = std::thread([connection = connection_, handler = std::move(handler)] {
        while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
            handler(connection, *event);
            std::free(event);
        }
    });
}

xcb_atom_t internAtom(xcb_connection_t* connection, std::string_view name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr);
    if (reply == nullptr) return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

void roundTrip(xcb_connection_t* connection) {
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

}  // namespace scene::x11
