#pragma once

#include <optional>

#include "platform/records.h"
#include "platform/rect.h"

namespace scene {

// A frame-info rect attachment as a rect: the rect's dictionary representation
// {"X", "Y", "Width", "Height"}, or a boxed rect [x, y, width, height]. Nothing
// for no value, a malformed one, or any other kind of value.
std::optional<Rect> selectedFrameRect(const Json* value);

}  // namespace scene
