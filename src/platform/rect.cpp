#include "platform/rect.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace scene {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// The window server's infinite rectangle: origin at the most negative
// representable half, extent of the whole range.
constexpr double kInfiniteOrigin = -std::numeric_limits<double>::max() / 2;
constexpr double kInfiniteExtent = std::numeric_limits<double>::max();

}  // namespace

Rect Rect::null() { return {kInfinity, kInfinity, 0, 0}; }

Rect Rect::infinite() { return {kInfiniteOrigin, kInfiniteOrigin, kInfiniteExtent, kInfiniteExtent}; }

bool Rect::operator==(const Rect& other) const {
    if (isNull() || other.isNull()) return isNull() && other.isNull();
    const Rect a = standardized();
    const Rect b = other.standardized();
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

Rect Rect::standardized() const {
    if (isNull()) return *this;
    Rect r = *this;
    if (r.width < 0) {
        r.x += r.width;
        r.width = -r.width;
    }
    if (r.height < 0) {
        r.y += r.height;
        r.height = -r.height;
    }
    return r;
}

double Rect::minX() const { return standardized().x; }
double Rect::minY() const { return standardized().y; }
double Rect::maxX() const {
    const Rect r = standardized();
    return r.x + r.width;
}
double Rect::maxY() const {
    const Rect r = standardized();
    return r.y + r.height;
}
double Rect::midX() const {
    const Rect r = standardized();
    return r.x + r.width / 2;
}
double Rect::midY() const {
    const Rect r = standardized();
    return r.y + r.height / 2;
}
double Rect::absWidth() const { return std::fabs(width); }
double Rect::absHeight() const { return std::fabs(height); }

bool Rect::isNull() const { return std::isinf(x) && x > 0 && std::isinf(y) && y > 0; }

bool Rect::isInfinite() const {
    const Rect r = standardized();
    return !isNull() && r.x <= kInfiniteOrigin && r.y <= kInfiniteOrigin && r.width >= kInfiniteExtent &&
           r.height >= kInfiniteExtent;
}

bool Rect::isEmpty() const { return isNull() || width == 0 || height == 0; }

Rect Rect::intersection(const Rect& other) const {
    if (isNull() || other.isNull()) return null();
    if (isInfinite()) return other.standardized();
    if (other.isInfinite()) return standardized();
    const double left = std::max(minX(), other.minX());
    const double top = std::max(minY(), other.minY());
    const double right = std::min(maxX(), other.maxX());
    const double bottom = std::min(maxY(), other.maxY());
    if (right < left || bottom < top) return null();
    return {left, top, right - left, bottom - top};
}

Rect Rect::unionWith(const Rect& other) const {
    if (isNull()) return other.standardized();
    if (other.isNull()) return standardized();
    if (isInfinite() || other.isInfinite()) return infinite();
    const double left = std::min(minX(), other.minX());
    const double top = std::min(minY(), other.minY());
    const double right = std::max(maxX(), other.maxX());
    const double bottom = std::max(maxY(), other.maxY());
    return {left, top, right - left, bottom - top};
}

Rect Rect::integral() const {
    if (isNull() || isInfinite()) return *this;
    const double left = std::floor(minX());
    const double top = std::floor(minY());
    const double right = std::ceil(maxX());
    const double bottom = std::ceil(maxY());
    return {left, top, right - left, bottom - top};
}

bool Rect::contains(Point point) const {
    if (isNull()) return false;
    return point.x >= minX() && point.x < maxX() && point.y >= minY() && point.y < maxY();
}

}  // namespace scene
