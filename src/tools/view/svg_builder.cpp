#include "tools/view/svg_builder.h"

#include <cstdio>

#include "tools/view/xml_text.h"

namespace scene::view {

std::string svgNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string s(text);
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s;
}

void SvgBuilder::rect(double x, double y, double width, double height, const std::string& attributes) {
    document += "<rect x=\"" + svgNumber(x) + "\" y=\"" + svgNumber(y) + "\" width=\"" + svgNumber(width) +
                "\" height=\"" + svgNumber(height) + "\" " + attributes + "/>\n";
}

void SvgBuilder::line(double x1, double y1, double x2, double y2, const std::string& attributes) {
    document += "<line x1=\"" + svgNumber(x1) + "\" y1=\"" + svgNumber(y1) + "\" x2=\"" + svgNumber(x2) + "\" y2=\"" +
                svgNumber(y2) + "\" " + attributes + "/>\n";
}

void SvgBuilder::text(double x, double y, double size, const std::string& attributes, std::string_view content) {
    document += "<text x=\"" + svgNumber(x) + "\" y=\"" + svgNumber(y) + "\" font-size=\"" + svgNumber(size) + "\" " +
                attributes + ">" + xmlEscaped(content) + "</text>\n";
}

void SvgBuilder::label(double x, double y, double size, const char* colour, const std::string& cssClass,
                       std::string_view content) {
    text(x, y, size,
         "class=\"" + cssClass + "\" fill=\"" + colour +
             "\" stroke=\"#000000\" stroke-width=\"2\" paint-order=\"stroke\"",
         content);
}

void SvgBuilder::open(const std::string& attributes) { document += "<g " + attributes + ">\n"; }

void SvgBuilder::close() { document += "</g>\n"; }

}  // namespace scene::view
