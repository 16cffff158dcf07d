#pragma once

#include <optional>
#include <string>
#include <unordered_map>

#include "platform/records.h"
#include "platform/rect.h"

namespace scene {

// A published contour moved along with its owner since it was found: shifted
// by the owner's displacement, with the owner's current bounds. Nothing when
// the record is not a contour, its owner is gone or resized, or its geometry
// is unreadable.
std::optional<Json> positionedSelectedContour(const Json& record, const std::unordered_map<std::string, Rect>& owners);

}  // namespace scene
