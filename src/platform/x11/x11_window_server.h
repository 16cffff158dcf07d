#pragma once

#include <memory>
#include <string>

#include "platform/runtime.h"
#include "platform/window_server.h"
#include "platform/x11/x11_desktop.h"

namespace scene::x11 {

// The window server of an X desktop: the window list in EWMH stacking order,
// RandR monitors as displays, the screen saver as the session lock and the
// core pointer state. Any thread. Input event counters stay 0: this back-end
// does not watch raw input yet.
class X11WindowServer final : public WindowServer {
public:
    // `runtime` and `displayName` serve the services that watch the server on
    // connections of their own.
    X11WindowServer(std::shared_ptr<X11Desktop> desktop, Runtime&, const std::string& /*displayName*/)
        : desktop_(std::move(desktop)) {}

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
    std::uint32_t eventCounter(InputEventType) override { return 0; }
    // No capture on this back-end yet, so nothing to allow.
    bool preflightScreenCaptureAccess() override { return false; }

private:
    std::optional<Monitor> monitor(DisplayID display);

    std::shared_ptr<X11Desktop> desktop_;
};

// The core protocol's modifier mask as the logic's modifier flags.
std::uint64_t modifierFlagsFromMask(std::uint16_t mask);

}  // namespace scene::x11
