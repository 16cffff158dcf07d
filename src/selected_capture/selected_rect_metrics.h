#pragma once

#include <optional>

#include "platform/rect.h"
#include "platform/records.h"

namespace scene {

// A rect as the session's metrics report it: {"x","y","width","height"} as
// floats, or null when there is none or any part is not finite (JSON has no
// spelling for infinities).
Json selectedRectMetrics(const std::optional<Rect>& rect);

}  // namespace scene
