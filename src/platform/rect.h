#pragma once

#include <optional>

namespace scene {

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

// A rectangle in global display points, origin top-left of the main display,
// y downwards. Follows the window server's rules: every query works on the
// standardised rectangle (negative extents flipped), intersecting disjoint
// rectangles gives the null rectangle, and the null rectangle is absorbed by
// union. A plain value.
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    static Rect null();
    static Rect infinite();

    bool operator==(const Rect& other) const;  // equal once standardised

    Rect standardized() const;
    double minX() const;
    double minY() const;
    double maxX() const;
    double maxY() const;
    double midX() const;
    double midY() const;
    double absWidth() const;
    double absHeight() const;

    bool isNull() const;
    bool isInfinite() const;
    bool isEmpty() const;  // null, or zero width or height

    Rect intersection(const Rect& other) const;
    Rect unionWith(const Rect& other) const;
    Rect integral() const;
    bool contains(Point point) const;
};

}  // namespace scene
