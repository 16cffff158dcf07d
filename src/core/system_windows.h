#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rect.h"
#include "platform/window_server.h"

namespace scene {

inline constexpr std::string_view kNotificationCenterBundleID = "com.apple.notificationcenterui";

// Bounds of every active display, in the system's order; empty on any error.
std::vector<Rect> activeDisplayRects(WindowServer& windowServer);

// The full-display backdrop the notification UI puts up: layer 21, matching the
// union of the displays or one display within 2 points on every edge.
bool isNotificationCenterBackdrop(const Rect& rect, int layer, const std::optional<std::string>& bundleID,
                                  const std::vector<Rect>& displays);

// A panel of the size and level of an input method's candidate window.
bool isInputMethodCandidate(const Rect& rect, int layer, bool verifiedOwner);

// Whether `path` lies inside an application bundle placed directly in one of the
// input-method folders (system, local, or the user's under `home`), once "." and
// ".." are resolved.
bool isInputMethodBundle(const std::optional<std::string>& path, const std::string& home);

}  // namespace scene
