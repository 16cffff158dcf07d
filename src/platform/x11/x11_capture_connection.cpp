#include "platform/x11/x11_capture_connection.h"

#include <xcb/randr.h>

namespace scene::x11 {

std::unique_ptr<CaptureConnection> CaptureConnection::open(const std::string& displayName) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screenNumber);
    if (connection == nullptr) return nullptr;
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem <= 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<CaptureConnection>(new CaptureConnection(connection, screens.data));
}

CaptureConnection::~CaptureConnection() { xcb_disconnect(connection_); }

std::vector<CaptureMonitor> CaptureConnection::monitors() const {
    std::vector<CaptureMonitor> result;
    auto reply =
        ownReply(xcb_randr_get_monitors_reply(connection_, xcb_randr_get_monitors(connection_, root(), 1), nullptr));
    if (!reply) return result;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
        CaptureMonitor monitor;
        monitor.bounds = Rect{static_cast<double>(it.data->x), static_cast<double>(it.data->y),
                              static_cast<double>(it.data->width), static_cast<double>(it.data->height)};
        monitor.primary = it.data->primary != 0;
        // The window server's numbering: the first output, or the name atom
        // of a monitor that has none.
        monitor.id = xcb_randr_monitor_info_outputs_length(it.data) > 0 ? xcb_randr_monitor_info_outputs(it.data)[0]
                                                                        : it.data->name;
        result.push_back(monitor);
    }
    return result;
}

std::optional<CaptureMonitor> CaptureConnection::monitorUnderPointer() const {
    const std::vector<CaptureMonitor> all = monitors();
    if (all.empty()) return std::nullopt;
    auto pointer = ownReply(xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root()), nullptr));
    if (pointer && pointer->same_screen != 0) {
        const Point at{static_cast<double>(pointer->root_x), static_cast<double>(pointer->root_y)};
        // Where monitors overlap (a monitor set up by hand over part of a
        // screen), the smallest is the one meant.
        const CaptureMonitor* under = nullptr;
        for (const CaptureMonitor& monitor : all) {
            if (!monitor.bounds.contains(at)) continue;
            const double area = monitor.bounds.absWidth() * monitor.bounds.absHeight();
            if (under == nullptr || area < under->bounds.absWidth() * under->bounds.absHeight()) under = &monitor;
        }
        if (under != nullptr) return *under;
    }
    // The pointer sits in a gap between monitors or on another screen.
    for (const CaptureMonitor& monitor : all)
        if (monitor.primary) return monitor;
    return all.front();
}

}  // namespace scene::x11
