#include "platform/x11/x11_capture_connection.h"

#include <xcb/randr.h>

#include "platform/x11/x11_monitors.h"

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
    for (const RandRMonitor& monitor : readRandRMonitors(connection_, root()))
        result.push_back({monitor.id, monitor.bounds, monitor.primary});
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
