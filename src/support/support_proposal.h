#pragma once

#include <optional>

#include "platform/rect.h"
#include "platform/records.h"

namespace scene {

// The rectangle of a scene record (window, Dock, visual or support record): its
// "x", "y", "width" and "height", each any kind of number. Nothing when one is
// missing or not a number. Extents keep their sign, so a record stored with a
// negative width compares as stored.
std::optional<Rect> supportRect(const Json& record);

}  // namespace scene
