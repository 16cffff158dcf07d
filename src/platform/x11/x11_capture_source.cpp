#include "platform/x11/x11_capture_source.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>

#include <cstdlib>

#include "platform/x11/x11_capture_pixels.h"
#include "platform/x11/x11_capture_words.h"

namespace scene::x11 {
namespace {

constexpr std::uint32_t kAllPlanes = ~0u;
constexpr std::uint32_t kRedMask = 0xFF0000u;
constexpr std::uint32_t kGreenMask = 0x00FF00u;
constexpr std::uint32_t kBlueMask = 0x0000FFu;

// Grabs arrive as 32-bit words, blue in the lowest byte: the one layout the
// frames are made from without a per-channel shuffle.
bool blueFirstWords(const xcb_setup_t& setup, const xcb_screen_t& screen) {
    if (setup.image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
    bool wordPixels = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(&setup); it.rem > 0; xcb_format_next(&it))
        if (it.data->depth == screen.root_depth) wordPixels = it.data->bits_per_pixel == 32;
    if (!wordPixels) return false;
    for (auto depths = xcb_screen_allowed_depths_iterator(&screen); depths.rem > 0; xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0; xcb_visualtype_next(&visuals)) {
            const xcb_visualtype_t& visual = *visuals.data;
            if (visual.visual_id != screen.root_visual) continue;
            const bool direct =
                visual._class == XCB_VISUAL_CLASS_TRUE_COLOR || visual._class == XCB_VISUAL_CLASS_DIRECT_COLOR;
            return direct && visual.red_mask == kRedMask && visual.green_mask == kGreenMask &&
                   visual.blue_mask == kBlueMask;
        }
    }
    return false;
}

// A segment id means something only to a server on this machine: a remote
// one would attach whatever segment carries that number over there.
bool overLocalSocket(xcb_connection_t* connection) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(xcb_get_file_descriptor(connection), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return false;
    return address.ss_family == AF_UNIX;
}

bool serverSharesMemory(xcb_connection_t* connection) {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_shm_id);
    return extension != nullptr && extension->present != 0;
}

std::optional<CaptureMonitor> filterMonitor(const std::vector<CaptureMonitor>& monitors, const ContentFilter& filter) {
    if (filter.style != ContentFilter::Style::display || filter.includedDisplays.size() > 1) return std::nullopt;
    for (const CaptureMonitor& monitor : monitors) {
        const bool named = filter.includedDisplays.empty() ? monitor.bounds == filter.contentRect
                                                           : monitor.id == filter.includedDisplays.front();
        if (named) return monitor;
    }
    return std::nullopt;
}

std::size_t frameBytes(const Rect& bounds) {
    return static_cast<std::size_t>(bounds.absWidth()) * static_cast<std::size_t>(bounds.absHeight()) * 4;
}

}  // namespace

X11CaptureSource::Opened X11CaptureSource::open(const std::string& displayName, const ContentFilter& filter,
                                                bool sharedMemory) {
    Opened opened;
    auto connection = CaptureConnection::open(displayName);
    if (!connection) {
        opened.error = captureError(kCaptureConnectionFailed);
        return opened;
    }
    if (!blueFirstWords(*xcb_get_setup(connection->get()), connection->screen())) {
        opened.error = captureError(kCaptureUnsupportedFormat);
        return opened;
    }
    const auto monitor = filterMonitor(connection->monitors(), filter);
    if (!monitor) {
        opened.error = captureError(connection->broken() ? kCaptureConnectionLost : kCaptureNoMonitor);
        return opened;
    }
    const bool share = sharedMemory && overLocalSocket(connection->get()) && serverSharesMemory(connection->get());
    opened.source.reset(new X11CaptureSource(std::move(connection), monitor->id));
    if (share) opened.source->attachSegment(frameBytes(monitor->bounds));
    return opened;
}

X11CaptureSource::X11CaptureSource(std::unique_ptr<CaptureConnection> connection, std::uint32_t monitor)
    : connection_(std::move(connection)), monitor_(monitor) {}

X11CaptureSource::~X11CaptureSource() { releaseSegment(); }

bool X11CaptureSource::attachSegment(std::size_t size) {
    releaseSegment();
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0) return false;
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    xcb_connection_t* connection = connection_->get();
    const xcb_shm_seg_t segment = xcb_generate_id(connection);
    xcb_generic_error_t* refused = xcb_request_check(connection, xcb_shm_attach_checked(connection, segment, id, 0));
    // Marked for removal at once: the system frees it when both sides have
    // detached, even if this process dies without cleaning up.
    shmctl(id, IPC_RMID, nullptr);
    if (refused != nullptr) {
        std::free(refused);
        shmdt(address);
        return false;
    }
    segment_ = Segment{segment, static_cast<std::uint8_t*>(address), size};
    return true;
}

void X11CaptureSource::releaseSegment() {
    if (!segment_) return;
    if (!connection_->broken()) xcb_shm_detach(connection_->get(), segment_->id);
    shmdt(segment_->address);
    segment_.reset();
}

X11CaptureSource::Grab X11CaptureSource::grab(int width, int height, PixelPool& pool) {
    Grab result;
    xcb_connection_t* connection = connection_->get();
    std::optional<CaptureMonitor> monitor;
    for (const CaptureMonitor& listed : connection_->monitors())
        if (listed.id == monitor_) monitor = listed;
    if (connection_->broken()) {
        result.error = captureError(kCaptureConnectionLost);
        return result;
    }
    if (!monitor || monitor->bounds.isEmpty()) {
        result.error = captureError(kCaptureMonitorGone);
        return result;
    }
    result.bounds = monitor->bounds;
    const auto x = static_cast<std::int16_t>(monitor->bounds.x);
    const auto y = static_cast<std::int16_t>(monitor->bounds.y);
    const auto sourceWidth = static_cast<std::uint16_t>(monitor->bounds.absWidth());
    const auto sourceHeight = static_cast<std::uint16_t>(monitor->bounds.absHeight());
    const std::size_t bytes = frameBytes(monitor->bounds);

    ServerPixels source{nullptr, static_cast<std::size_t>(sourceWidth) * 4, sourceWidth, sourceHeight};
    // A monitor that grew (a mode change) needs a larger segment.
    if (segment_ && segment_->size < bytes) attachSegment(bytes);
    if (segment_) {
        xcb_generic_error_t* error = nullptr;
        auto reply = ownReply(
            xcb_shm_get_image_reply(connection,
                                    xcb_shm_get_image(connection, connection_->root(), x, y, sourceWidth, sourceHeight,
                                                      kAllPlanes, XCB_IMAGE_FORMAT_Z_PIXMAP, segment_->id, 0),
                                    &error));
        const bool mismatch = error != nullptr && error->error_code == XCB_MATCH;
        std::free(error);
        if (reply) {
            source.data = segment_->address;
        } else if (connection_->broken()) {
            result.error = captureError(kCaptureConnectionLost);
            return result;
        } else if (mismatch) {
            return result;  // the screen is changing size under the monitor: skip this grab
        } else {
            releaseSegment();  // the server will not write there: plain replies from now on
        }
    }
    CaptureReply<xcb_get_image_reply_t> plain(nullptr, &std::free);
    if (source.data == nullptr) {
        plain = ownReply(xcb_get_image_reply(connection,
                                             xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, connection_->root(),
                                                           x, y, sourceWidth, sourceHeight, kAllPlanes),
                                             nullptr));
        if (connection_->broken()) {
            result.error = captureError(kCaptureConnectionLost);
            return result;
        }
        if (!plain || static_cast<std::size_t>(xcb_get_image_data_length(plain.get())) < bytes) return result;
        source.data = xcb_get_image_data(plain.get());
    }

    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    result.pixels = pool.take(stride * static_cast<std::size_t>(height));
    writeOpaqueBGRA(source, result.pixels->data(), stride, width, height);
    return result;
}

}  // namespace scene::x11
