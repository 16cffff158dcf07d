#pragma once

#include "platform/accessibility.h"
#include "platform/screen_capture.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace scene {

// Everything the system needs of the operating system, grouped by service.
class Platform {
public:
    virtual ~Platform() = default;
    virtual WindowServer& windowServer() = 0;
    virtual Workspace& workspace() = 0;
    virtual Accessibility& accessibility() = 0;
    virtual ScreenCapture& screenCapture() = 0;
};

}  // namespace scene
