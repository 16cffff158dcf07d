#include "tools/view/legend_band.h"

#include <algorithm>
#include <cmath>

#include "tools/view/label_placement.h"
#include "tools/view/svg_builder.h"

namespace scene::view {
namespace {

constexpr double kMargin = 8;
constexpr double kHeaderSize = 14;
constexpr double kLegendSize = 11;
constexpr double kSwatchWidth = 30;
constexpr double kSwatchGap = 8;
constexpr double kColumnGap = 24;
constexpr const char* kBandColour = "#0d1117";
constexpr const char* kTextColour = "#ffffff";
constexpr const char* kNoteColour = "#b8c2cc";

constexpr const char* kFrameNote =
    "Underneath: the selected display's last captured frame, dimmed so the drawn layers stand out.";
constexpr const char* kPlainNote = "Underneath: no captured frame, only the snapshot's geometry on a plain background.";

double lineHeight(double size) { return textSize("", size).height; }

// `parts` joined by `separator` on as few lines of `width` as hold them, in
// order; a part too long for a line of its own is shortened.
std::vector<std::string> wrapped(const std::vector<std::string>& parts, const std::string& separator, double size,
                                 double width) {
    std::vector<std::string> lines;
    for (const std::string& whole : parts) {
        const std::string part = fittedText(whole, size, width);
        if (!lines.empty() && textSize(lines.back() + separator + part, size).width <= width)
            lines.back() += separator + part;
        else
            lines.push_back(part);
    }
    return lines;
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> result;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        if (end > start) result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

void drawSwatch(SvgBuilder& svg, const LayerStyle& style, double x, double middle) {
    const std::string attributes = std::string("class=\"swatch\" ") + styleAttributes(style);
    if (style.swatch == LayerStyle::Swatch::line)
        svg.line(x + 3, middle, x + kSwatchWidth - 3, middle, attributes + " stroke-linecap=\"round\"");
    else
        svg.rect(x + 2, middle - 6, kSwatchWidth - 4, 12, attributes);
}

}  // namespace

LegendBand legendBand(const BandContent& content, double width) {
    const double inner = std::max(width - 2 * kMargin, 1.0);
    SvgBuilder svg;
    double y = kMargin;
    svg.open("class=\"header\"");
    for (const std::string& line : wrapped(content.header, " | ", kHeaderSize, inner)) {
        const Point at = textBaseline({kMargin, y, 0, 0}, kHeaderSize);
        svg.text(at.x, at.y, kHeaderSize, std::string("class=\"header-line\" fill=\"") + kTextColour + "\"", line);
        y += lineHeight(kHeaderSize);
    }
    svg.close();

    y += kMargin / 2;
    svg.open("class=\"legend\"");
    const double textRoom = std::max(inner - kSwatchWidth - kSwatchGap, 1.0);
    std::vector<std::pair<Layer, std::string>> entries;
    double column = 0;
    for (const Layer layer : content.layers) {
        entries.emplace_back(layer, fittedText(layerStyle(layer).meaning, kLegendSize, textRoom));
        column = std::max(column, kSwatchWidth + kSwatchGap + textSize(entries.back().second, kLegendSize).width);
    }
    if (!entries.empty()) {
        // Column by column, so the layers of one kind stay together.
        const auto columns = std::max<std::size_t>(1, std::floor((inner + kColumnGap) / (column + kColumnGap)));
        const std::size_t rows = (entries.size() + columns - 1) / columns;
        const double pitch = lineHeight(kLegendSize) + 2;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const auto& [layer, meaning] = entries[i];
            const double x = kMargin + double(i / rows) * (column + kColumnGap);
            const double top = y + double(i % rows) * pitch;
            svg.open(std::string("class=\"legend-entry\" data-layer=\"") + layerStyle(layer).name + "\"");
            drawSwatch(svg, layerStyle(layer), x, top + lineHeight(kLegendSize) / 2);
            const Point at = textBaseline({x + kSwatchWidth + kSwatchGap, top, 0, 0}, kLegendSize);
            svg.text(at.x, at.y, kLegendSize, std::string("fill=\"") + kTextColour + "\"", meaning);
            svg.close();
        }
        y += double(rows) * pitch + kMargin / 2;
    }
    for (const std::string& line : wrapped(words(content.frame ? kFrameNote : kPlainNote), " ", kLegendSize, inner)) {
        const Point at = textBaseline({kMargin, y, 0, 0}, kLegendSize);
        svg.text(at.x, at.y, kLegendSize, std::string("class=\"legend-note\" fill=\"") + kNoteColour + "\"", line);
        y += lineHeight(kLegendSize);
    }
    svg.close();
    y += kMargin;

    SvgBuilder band;
    band.rect(0, 0, width, y, std::string("class=\"band\" fill=\"") + kBandColour + "\"");
    band.document += svg.document;
    return {band.document, y};
}

}  // namespace scene::view
