#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/window_server.h"
#include "platform/x11/x11_event_thread.h"

namespace scene::x11 {

// One raw XInput event as far as counting goes.
struct RawInput {
    std::uint16_t type = 0;       // XI_RawKeyPress, XI_RawButtonPress, XI_RawMotion, ...
    std::uint32_t detail = 0;     // button number or key code
    std::uint32_t valuators = 0;  // first word of the valuator mask: bit n set when valuator n changed
};

// The counter a raw event moves, if any. Buttons 4 to 7 are the wheel's
// clicks, not other buttons; motion counts only when the pointer axes
// (valuators 0 and 1) moved, so scrolling a smooth wheel does not also move
// the mouse.
std::optional<InputEventType> countedInputEvent(const RawInput& event);

// Counts the desktop's input events the way the window server keeps its
// per-type counters: raw XInput events of the master devices, selected on the
// root, so each physical event is seen once whoever has the grab. The counts
// are written on the counter's own event thread and read from any thread;
// they wrap like the server's 32-bit counters.
class X11InputCounters {
public:
    // Nothing when the display cannot be opened or has no XInput 2.2.
    static std::unique_ptr<X11InputCounters> start(const std::string& displayName);

    std::uint32_t count(InputEventType type) const;
    // Moves with every key and button pressed or released: while it stands
    // still, the pointer's buttons and the modifiers are as they were.
    std::uint64_t presses() const { return presses_.load(std::memory_order_acquire); }

private:
    X11InputCounters() = default;
    void handle(xcb_connection_t* connection, const xcb_generic_event_t& event);
    static std::size_t slot(InputEventType type);

    std::array<std::atomic<std::uint32_t>, 6> counts_{};
    std::atomic<std::uint64_t> presses_{0};
    std::uint8_t opcode_ = 0;                 // the extension's major opcode, which tags its events
    std::unique_ptr<X11EventThread> thread_;  // last: joined before the counts go
};

}  // namespace scene::x11
