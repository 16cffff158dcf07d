#pragma once

#include <optional>
#include <string>

#include "platform/rect.h"

namespace scene {

// Which edge of `display` a Dock-shaped rectangle sits along: "bottom", "left"
// or "right"; nothing for shapes that are no shelf or float inside the display.
std::optional<std::string> dockSide(const Rect& rect, const Rect& display);

}  // namespace scene
