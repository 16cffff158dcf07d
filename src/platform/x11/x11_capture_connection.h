#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/rect.h"

namespace scene::x11 {

// Owns one reply; xcb hands them out with malloc.
template <typename T>
using CaptureReply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
CaptureReply<T> ownReply(T* reply) {
    return CaptureReply<T>(reply, &std::free);
}

// A RandR monitor as capture sees it.
struct CaptureMonitor {
    std::uint32_t id = 0;  // numbered as the window server numbers displays
    Rect bounds;
    bool primary = false;
};

// A connection of the capture code's own to the X server, so the picker and
// each stream's thread never queue behind the window list's requests. Used by
// one thread at a time.
class CaptureConnection {
public:
    // Nothing when the display cannot be opened. An empty name means $DISPLAY.
    static std::unique_ptr<CaptureConnection> open(const std::string& displayName);
    ~CaptureConnection();
    CaptureConnection(const CaptureConnection&) = delete;
    CaptureConnection& operator=(const CaptureConnection&) = delete;

    xcb_connection_t* get() const { return connection_; }
    const xcb_screen_t& screen() const { return *screen_; }
    xcb_window_t root() const { return screen_->root; }
    bool broken() const { return xcb_connection_has_error(connection_) != 0; }

    // The active monitors; empty when RandR cannot tell.
    std::vector<CaptureMonitor> monitors() const;
    // The monitor under the pointer (the smallest where several overlap),
    // else the primary one, else the first.
    std::optional<CaptureMonitor> monitorUnderPointer() const;

private:
    CaptureConnection(xcb_connection_t* connection, const xcb_screen_t* screen)
        : connection_(connection), screen_(screen) {}

    xcb_connection_t* connection_;
    const xcb_screen_t* screen_;  // the connection's default screen, owned by its setup
};

}  // namespace scene::x11
