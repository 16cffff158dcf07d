#pragma once

#include <xcb/shm.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/pixel_pool.h"
#include "platform/platform_error.h"
#include "platform/rect.h"
#include "platform/screen_capture.h"
#include "platform/x11/x11_capture_connection.h"

namespace scene::x11 {

// Reads one monitor's pixels on a connection of its own. A local server that
// accepts a shared-memory segment writes each grab straight into it, which
// saves the trip of the pixels through the socket; otherwise (a remote
// server, a refused segment, a server without the extension) grabs come as
// ordinary image replies. Frames leave as opaque BGRA in storage from the
// caller's pool. Used by one thread at a time.
class X11CaptureSource {
public:
    struct Opened {
        std::unique_ptr<X11CaptureSource> source;
        PlatformError error;  // why not, when there is no source
    };
    // The filter's one display (or, when it names none, the monitor whose
    // bounds are its content rect). `sharedMemory` false never tries the
    // segment.
    static Opened open(const std::string& displayName, const ContentFilter& filter, bool sharedMemory = true);
    ~X11CaptureSource();
    X11CaptureSource(const X11CaptureSource&) = delete;
    X11CaptureSource& operator=(const X11CaptureSource&) = delete;

    struct Grab {
        // width x height opaque BGRA, 4 * width bytes a row; none when this
        // grab had to be skipped or `error` is set.
        std::shared_ptr<std::vector<std::uint8_t>> pixels;
        Rect bounds;                         // the monitor as it was read for this grab
        std::optional<PlatformError> error;  // the monitor or the connection is gone for good
    };
    // The monitor scaled to width x height (each at least 1).
    Grab grab(int width, int height, PixelPool& pool);

    std::uint32_t monitor() const { return monitor_; }
    // Whether grabs go through the shared segment (decided at open, and
    // given up for good when the server later refuses it).
    bool sharingMemory() const { return segment_.has_value(); }

private:
    struct Segment {
        xcb_shm_seg_t id = 0;
        std::uint8_t* address = nullptr;
        std::size_t size = 0;
    };

    X11CaptureSource(std::unique_ptr<CaptureConnection> connection, std::uint32_t monitor);
    // Makes segment_ a segment of at least `size` bytes the server has
    // attached; false (and no segment) when the server or the system refuses.
    bool attachSegment(std::size_t size);
    void releaseSegment();

    std::unique_ptr<CaptureConnection> connection_;
    const std::uint32_t monitor_;
    std::optional<Segment> segment_;
};

}  // namespace scene::x11
