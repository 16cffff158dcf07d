#include "accessibility/dock_side.h"

#include <cmath>

namespace scene {
namespace {

// A shelf is long and thin: at most this thick, at least this long, and
// within the edge distance of the display edge it hugs.
constexpr double kMaximumThickness = 320;
constexpr double kMinimumLength = 100;
constexpr double kEdgeDistance = 24;
// Slivers left after clipping to a display are overlap from a neighbour.
constexpr double kMinimumOverlap = 8;

}  // namespace

std::optional<std::string> dockSide(const Rect& rect, const Rect& display) {
    const Rect overlap = rect.intersection(display);
    if (overlap.isNull() || overlap.absWidth() <= kMinimumOverlap || overlap.absHeight() <= kMinimumOverlap) {
        return std::nullopt;
    }
    const double width = rect.absWidth();
    const double height = rect.absHeight();
    // y grows downwards: a bottom shelf starts in the display's lower half.
    if (height < width && height <= kMaximumThickness && width >= kMinimumLength && display.midY() < rect.minY() &&
        std::fabs(rect.maxY() - display.maxY()) <= kEdgeDistance) {
        return "bottom";
    }
    if (width < height && width <= kMaximumThickness && height >= kMinimumLength) {
        if (std::fabs(rect.minX() - display.minX()) <= kEdgeDistance) return "left";
        if (std::fabs(rect.maxX() - display.maxX()) <= kEdgeDistance) return "right";
    }
    return std::nullopt;
}

}  // namespace scene
