#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform_error.h"
#include "platform/workspace.h"

namespace scene::simulated {

// A focus change an application's accessibility observers hear about.
struct AccessibilityNotice {
    std::int32_t pid = 0;
    std::string notification;  // kFocusedWindowChanged or kFocusedUIElementChanged
};

// What applying one action tells the outside world, collected under the
// desktop lock and delivered after it is released. A plain value.
struct DesktopEffects {
    std::vector<WorkspaceEvent> workspaceEvents;
    std::vector<AccessibilityNotice> accessibilityNotices;
    std::vector<PlatformError> streamErrors;  // the primary stream stops with these
    bool streamSettingsChanged = false;       // running streams take the new settings
};

}  // namespace scene::simulated
