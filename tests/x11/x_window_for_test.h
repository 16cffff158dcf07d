#pragma once

// Windows of a test's own on a test X desktop, filled with one colour, and
// the screen's pixels read back from the server.
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "x_session_for_test.h"

namespace scene::x11::testing {

struct WindowPlace {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// A window of solid `rgb` (0xRRGGBB on a 24-bit true-colour screen), mapped at
// once (after `prepare`, which may set properties) and destroyed with the
// object. An unmanaged one (override-redirect) sits exactly at `place` without
// a frame; a managed one asks the window manager for that place, gets its
// frame and says it belongs to this process.
class SolidWindow {
public:
    SolidWindow(xcb_connection_t* connection, xcb_ewmh_connection_t& ewmh, const WindowPlace& place, std::uint32_t rgb,
                bool managed, const std::function<void(xcb_window_t)>& prepare = {})
        : connection_(connection), id_(xcb_generate_id(connection)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const std::uint32_t values[] = {rgb, managed ? 0u : 1u};
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, id_, screen->root, static_cast<std::int16_t>(place.x),
                          static_cast<std::int16_t>(place.y), static_cast<std::uint16_t>(place.width),
                          static_cast<std::uint16_t>(place.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        if (managed) {
            xcb_size_hints_t hints{};
            xcb_icccm_size_hints_set_position(&hints, 1, place.x, place.y);
            xcb_icccm_size_hints_set_size(&hints, 1, place.width, place.height);
            xcb_icccm_set_wm_normal_hints(connection, id_, &hints);
            xcb_ewmh_set_wm_pid(&ewmh, id_, static_cast<std::uint32_t>(getpid()));
            constexpr char kClass[] = "capture-test\0CaptureTest";
            xcb_icccm_set_wm_class(connection, id_, sizeof kClass, kClass);
        }
        if (prepare) prepare(id_);
        xcb_map_window(connection, id_);
        xcb_flush(connection);
    }
    ~SolidWindow() {
        xcb_destroy_window(connection_, id_);
        xcb_flush(connection_);
    }
    SolidWindow(const SolidWindow&) = delete;
    SolidWindow& operator=(const SolidWindow&) = delete;

    xcb_window_t id() const { return id_; }
    // The id a window record gives this window: owner pid and window number.
    std::string recordId() const { return std::to_string(getpid()) + ":" + std::to_string(id_); }

private:
    xcb_connection_t* connection_;
    xcb_window_t id_;
};

// The screen's pixel at (x, y) as 0xRRGGBB, read from the root; nothing when
// the server does not answer.
inline std::optional<std::uint32_t> screenPixel(xcb_connection_t* connection, int x, int y) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    xcb_get_image_reply_t* reply =
        xcb_get_image_reply(connection,
                            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root,
                                          static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), 1, 1, ~0u),
                            nullptr);
    if (reply == nullptr) return std::nullopt;
    std::optional<std::uint32_t> pixel;
    if (xcb_get_image_data_length(reply) >= 4) {
        std::uint32_t word = 0;
        std::memcpy(&word, xcb_get_image_data(reply), 4);
        pixel = word & 0xFFFFFFu;
    }
    std::free(reply);
    return pixel;
}

}  // namespace scene::x11::testing
