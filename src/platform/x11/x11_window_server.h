#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/runtime.h"
#include "platform/window_server.h"
#include "platform/x11/x11_desktop.h"
#include "platform/x11/x11_input_counters.h"

namespace scene::x11 {

// The window server of an X desktop: the window list in EWMH stacking order,
// RandR monitors as displays (known by their EDID), power management as
// display sleep, the screen saver as the session lock, the core pointer state,
// and input counts kept from raw input on a connection of their own, watched
// from the first time they are asked for and again on each new connection to
// the server, counting on from where they were. While the server is lost
// there is no window list and no session. Any thread.
class X11WindowServer final : public WindowServer {
public:
    X11WindowServer(std::shared_ptr<X11Desktop> desktop, Runtime&, const std::string& displayName)
        : desktop_(std::move(desktop)), displayName_(displayName) {}

    std::shared_ptr<const nlohmann::json> copyWindowList() override;
    int dockWindowLevel() override { return kDockLevel; }
    std::optional<std::uint32_t> activeDisplayCount() override;
    std::optional<std::vector<DisplayID>> activeDisplayList(std::uint32_t maxDisplays) override;
    Rect displayBounds(DisplayID display) override;
    bool displayIsActive(DisplayID display) override;
    bool displayIsAsleep(DisplayID display) override;
    std::optional<std::string> displayUUID(DisplayID display) override;
    std::optional<nlohmann::json> sessionDictionary() override;
    bool leftButtonDown() override;
    std::uint64_t modifierFlags() override;
    std::uint32_t eventCounter(InputEventType type) override;
    // Any client of the server may read its pixels.
    bool preflightScreenCaptureAccess() override { return true; }

private:
    std::optional<Monitor> monitor(DisplayID display);
    // Under countersMutex_: the counters of the desktop's current
    // connection, started when it is new; none without XInput 2.2.
    X11InputCounters* counters();
    // The core pointer mask, asked of the server again only after a key or
    // button has moved (a pass asks for the buttons and the modifiers).
    std::uint16_t pointerMask();

    std::shared_ptr<X11Desktop> desktop_;
    const std::string displayName_;
    std::mutex countersMutex_;
    std::uint64_t countersConnection_ = 0;        // under countersMutex_: the desktop connection they watch
    std::unique_ptr<X11InputCounters> counters_;  // under countersMutex_
    // What earlier connections' counters had counted, per counted type, under countersMutex_.
    std::array<std::uint32_t, 6> countedBefore_{};
    std::uint64_t pressesBefore_ = 0;
    struct KeptPointer {
        std::uint64_t presses = 0;  // the counters' presses when it was read
        std::uint16_t mask = 0;
    };
    std::mutex pointerMutex_;
    std::optional<KeptPointer> pointer_;  // under pointerMutex_
    // A local X display is the console session by definition.
    const nlohmann::json lockedSession_{{"CGSSessionScreenIsLocked", true}, {"kCGSSessionOnConsoleKey", true}};
    const nlohmann::json unlockedSession_{{"CGSSessionScreenIsLocked", false}, {"kCGSSessionOnConsoleKey", true}};
};

// The core protocol's modifier mask as the logic's modifier flags.
std::uint64_t modifierFlagsFromMask(std::uint16_t mask);

}  // namespace scene::x11
