#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rect.h"

namespace scene::view {

// What the placement assumes of the pictures' monospace font, in ems: each
// character advances kCharacterWidth (East Asian wide ones twice that), a line
// is kLineHeight tall with its baseline kBaseline below the line's top. A text
// box also holds the one-point black outline around every label.
inline constexpr double kCharacterWidth = 0.62;
inline constexpr double kLineHeight = 1.2;
inline constexpr double kBaseline = 0.92;
inline constexpr double kOutline = 1;

// The box a text of this font size takes, its top-left corner at the origin.
// `text` is what the picture shows (xmlAllowed).
Size textSize(std::string_view text, double size);
// `text` itself when it fits `width`, else its longest head that fits with
// "…" after it (just "…" when nothing more does).
std::string fittedText(std::string_view text, double size, double width);
// Where to draw a text so its box's top-left corner is at `box`'s.
Point textBaseline(const Rect& box, double size);

// A place a label may take: the point `at`, and which point of the label's
// box goes there, as fractions of its size (0, 0: its top-left corner; 1, 1:
// its bottom-right; 0.5, 1: the middle of its bottom).
struct LabelSpot {
    Point at;
    double alignX = 0;
    double alignY = 0;
};

struct LabelRequest {
    std::string text;       // what the picture shows (xmlAllowed)
    std::string shortText;  // tried at every spot once `text` fits none; empty: none
    double size = 11;
    std::vector<LabelSpot> spots;  // in order of preference
};

struct PlacedLabel {
    std::size_t request;  // index into the requests
    std::string text;     // the text or short text, shortened to the bounds' width if need be
    Rect box;
};

// Places the labels one after another, in the requests' order, so earlier ones
// win: each takes its first spot (moved inside `bounds`) where its box overlaps
// no label placed before it, trying the full text at every spot before the
// short one; a label that finds no such spot is left out. Deterministic.
std::vector<PlacedLabel> placeLabels(const std::vector<LabelRequest>& requests, const Rect& bounds);

}  // namespace scene::view
