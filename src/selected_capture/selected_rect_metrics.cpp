#include "selected_capture/selected_rect_metrics.h"

#include <cmath>

namespace scene {

Json selectedRectMetrics(const std::optional<Rect>& rect) {
    if (!rect) return nullptr;
    const double x = rect->minX();
    const double y = rect->minY();
    const double width = rect->absWidth();
    const double height = rect->absHeight();
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(width) || !std::isfinite(height)) return nullptr;
    return Json{{"x", x}, {"y", y}, {"width", width}, {"height", height}};
}

}  // namespace scene
