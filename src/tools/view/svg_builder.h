#pragma once

#include <string>
#include <string_view>

namespace scene::view {

// Coordinates with at most two decimals, without trailing zeros ("12.5", "80").
std::string svgNumber(double value);

// Appends SVG elements to one document text. Attribute strings are written as
// given (they hold only the writer's own words); text content is escaped. A
// plain value, used by one picture at a time.
class SvgBuilder {
public:
    std::string document;

    void rect(double x, double y, double width, double height, const std::string& attributes);
    void line(double x1, double y1, double x2, double y2, const std::string& attributes);
    // `x`, `y`: the start of the text's baseline.
    void text(double x, double y, double size, const std::string& attributes, std::string_view content);
    // A text outlined in black, so it stays readable over any pixels.
    void label(double x, double y, double size, const char* colour, const std::string& cssClass,
               std::string_view content);
    void open(const std::string& attributes);  // <g ...>
    void close();                              // </g>
};

}  // namespace scene::view
