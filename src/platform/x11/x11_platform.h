#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/atspi/atspi_accessibility.h"
#include "platform/platform.h"
#include "platform/runtime.h"
#include "platform/x11/x11_desktop.h"
#include "platform/x11/x11_screen_capture.h"
#include "platform/x11/x11_window_server.h"
#include "platform/x11/x11_workspace.h"

namespace scene::x11 {

// An X desktop behind every platform service, over one shared connection.
class X11Platform final : public Platform {
public:
    // Nothing when the display cannot be opened.
    static std::unique_ptr<X11Platform> open(const std::string& displayName, Runtime& runtime);

    WindowServer& windowServer() override { return windowServer_; }
    Workspace& workspace() override { return workspace_; }
    Accessibility& accessibility() override { return accessibility_; }
    ScreenCapture& screenCapture() override { return screenCapture_; }

    X11Platform(std::shared_ptr<X11Desktop> desktop, Runtime& runtime, const std::string& displayName)
        : windowServer_(desktop, runtime, displayName),
          workspace_(desktop, runtime, displayName),
          accessibility_(runtime, windowServer_, sessionBus()),
          screenCapture_(runtime, displayName) {}

private:
    // Where the session bus is, as this process was told.
    static std::optional<std::string> sessionBus();

    X11WindowServer windowServer_;
    X11Workspace workspace_;
    atspi::AtspiAccessibility accessibility_;
    X11ScreenCapture screenCapture_;
};

}  // namespace scene::x11
