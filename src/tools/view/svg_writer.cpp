#include "tools/view/svg_writer.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "platform/json_read.h"
#include "tools/view/label_placement.h"
#include "tools/view/layer_style.h"
#include "tools/view/legend_band.h"
#include "tools/view/svg_builder.h"
#include "tools/view/xml_text.h"

namespace scene::view {
namespace {

// Snapshot and record keys read here.
constexpr std::string_view kWindows = "windows";
constexpr std::string_view kDocks = "docks";
constexpr std::string_view kControls = "controls";
constexpr std::string_view kInputs = "inputs";
constexpr std::string_view kVisuals = "visuals";
constexpr std::string_view kSupportProofs = "supportProofs";
constexpr std::string_view kContext = "context";
constexpr std::string_view kFocusedWindowId = "focusedWindowId";
constexpr std::string_view kCaptureSession = "captureSession";
constexpr std::string_view kStatus = "status";
constexpr std::string_view kId = "id";
constexpr std::string_view kSystemUI = "systemUI";
constexpr std::string_view kSide = "side";
constexpr std::string_view kRole = "role";
constexpr std::string_view kPlatform = "platform";
constexpr std::string_view kFrom = "from";
constexpr std::string_view kTo = "to";
constexpr std::string_view kFixed = "fixed";
constexpr std::string_view kSource = "source";
constexpr std::string_view kX = "x";
constexpr std::string_view kY = "y";
constexpr std::string_view kWidth = "width";
constexpr std::string_view kHeight = "height";
// Support sides and sources.
constexpr std::string_view kTop = "top";
constexpr std::string_view kBottom = "bottom";
constexpr std::string_view kLeft = "left";
constexpr std::string_view kRight = "right";
constexpr std::string_view kSelectedContour = "selected-contour";
constexpr std::string_view kCompositedPixels = "composited-pixels";

constexpr const char* kPlainBackground = "#1b2430";
constexpr const char* kMarginColour = "#0d1117";
// Narrower displays still get a legend that can be read: the desktop then
// sits at the left of a wider picture.
constexpr double kMinimumWidth = 480;
constexpr double kWindowLabelSize = 11;
constexpr double kSmallLabelSize = 9;

// Which labels win a contested place: window ids first, supports last (their
// colour and dash already tell their source and side).
enum class LabelRank { window, dock, control, input, support };

struct Box {
    double x, y, width, height;
};

// A record's own rectangle, moved into picture coordinates; nothing unless all
// four values are finite numbers and the extents are not negative.
std::optional<Box> recordBox(const Json& record, const Rect& display) {
    const auto x = json_read::looseDouble(record, kX);
    const auto y = json_read::looseDouble(record, kY);
    const auto width = json_read::looseDouble(record, kWidth);
    const auto height = json_read::looseDouble(record, kHeight);
    if (!x || !y || !width || !height) return std::nullopt;
    if (!std::isfinite(*x) || !std::isfinite(*y) || !std::isfinite(*width) || !std::isfinite(*height) || *width < 0 ||
        *height < 0)
        return std::nullopt;
    return Box{*x - display.minX(), *y - display.minY(), *width, *height};
}

const Json& list(const Json& snapshot, std::string_view key) {
    static const Json kEmpty = Json::array();
    const Json* value = json_read::member(snapshot, key);
    return value != nullptr && value->is_array() ? *value : kEmpty;
}

std::optional<double> finite(const Json& record, std::string_view key) {
    const auto value = json_read::looseDouble(record, key);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return value;
}

// Places for the label of a rectangle: inside its left corners (the bottom one
// first when `bottomFirst`), its right corners, then just above and below it.
std::vector<LabelSpot> boxSpots(const Box& box, bool bottomFirst) {
    const double left = box.x + 3, right = box.x + box.width - 3;
    const double top = box.y + 2, bottom = box.y + box.height - 2;
    const LabelSpot topLeft{{left, top}, 0, 0}, bottomLeft{{left, bottom}, 0, 1};
    return {bottomFirst ? bottomLeft : topLeft,
            bottomFirst ? topLeft : bottomLeft,
            {{right, top}, 1, 0},
            {{right, bottom}, 1, 1},
            {{box.x, box.y - 2}, 0, 1},
            {{box.x, box.y + box.height + 2}, 0, 0}};
}

// Places for the label of a line from (x1, y1) to (x2, y2): beside its start,
// then beside its end; above and below a horizontal line, right and left of a
// vertical one.
std::vector<LabelSpot> lineSpots(double x1, double y1, double x2, double y2, bool horizontal) {
    if (horizontal)
        return {{{x1 + 2, y1 - 3}, 0, 1},
                {{x1 + 2, y1 + 3}, 0, 0},
                {{x2 - 2, y1 - 3}, 1, 1},
                {{x2 - 2, y1 + 3}, 1, 0},
                {{(x1 + x2) / 2, y1 - 3}, 0.5, 1}};
    return {{{x1 + 5, y1 + 2}, 0, 0}, {{x1 - 5, y1 + 2}, 1, 0}, {{x1 + 5, y2 - 2}, 0, 1}, {{x1 - 5, y2 - 2}, 1, 1}};
}

// One picture's desktop: its shapes in display points, the layers they show and
// the labels they ask for. Lives for one call of sceneSvg.
class Desktop {
public:
    Desktop(const Json& snapshot, const Rect& display) : snapshot_(snapshot), display_(display) {}

    SvgBuilder svg;
    std::set<Layer> layers;

    void drawBackground(const std::optional<JpegFrame>& frame) {
        svg.open("class=\"background\"");
        if (frame) {
            // The frame is stretched over the display: the sampler captures at
            // one pixel per point, and a smaller frame still covers the same area.
            svg.document += "<image x=\"0\" y=\"0\" width=\"" + svgNumber(display_.width) + "\" height=\"" +
                            svgNumber(display_.height) +
                            "\" preserveAspectRatio=\"none\" xlink:href=\"data:image/jpeg;base64," +
                            xmlEscaped(frame->base64) + "\"/>\n";
            svg.rect(0, 0, display_.width, display_.height, "class=\"dim\" fill=\"#000000\" fill-opacity=\"0.45\"");
        } else {
            svg.rect(0, 0, display_.width, display_.height,
                     std::string("class=\"plain\" fill=\"") + kPlainBackground + "\"");
        }
        svg.close();
    }

    void drawDocks() {
        svg.open("class=\"docks\"");
        const LayerStyle& style = layerStyle(Layer::dock);
        for (const Json& dock : list(snapshot_, kDocks)) {
            const auto box = recordBox(dock, display_);
            if (!box) continue;
            svg.rect(box->x, box->y, box->width, box->height, "class=\"dock\" " + styleAttributes(style));
            layers.insert(Layer::dock);
            const std::string id = json_read::string(dock, kId).value_or("dock");
            ask(*box, LabelRank::dock, id + " " + json_read::string(dock, kSide).value_or(""), id, kWindowLabelSize,
                boxSpots(*box, true), style.colour, "dock-label");
        }
        svg.close();
    }

    void drawWindows() {
        const Json* context = json_read::member(snapshot_, kContext);
        const auto focused = context ? json_read::string(*context, kFocusedWindowId) : std::nullopt;
        const Json& windows = list(snapshot_, kWindows);
        const std::size_t firstLabel = requests_.size();
        svg.open("class=\"windows\"");
        // Back to front, so the front windows' outlines end up on top; their
        // labels are asked for front to back, so the front ones win.
        for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
            const Json& window = *it;
            const auto box = recordBox(window, display_);
            if (!box) continue;
            const auto id = json_read::string(window, kId).value_or("");
            const bool isFocused = focused && *focused == id;
            const bool systemUI = json_read::member(window, kSystemUI) != nullptr;
            std::string cssClass = "window";
            if (isFocused) cssClass += " focused";
            if (systemUI) cssClass += " system-ui";
            const LayerStyle& style = layerStyle(isFocused ? Layer::focusedWindow : Layer::window);
            svg.rect(box->x, box->y, box->width, box->height,
                     "class=\"" + cssClass + "\" data-id=\"" + xmlEscaped(id) + "\" " +
                         styleAttributes(style, systemUI ? layerStyle(Layer::systemWindow).dash : style.dash));
            layers.insert(isFocused ? Layer::focusedWindow : Layer::window);
            if (systemUI) layers.insert(Layer::systemWindow);
            ask(*box, LabelRank::window, id, "", kWindowLabelSize, boxSpots(*box, false), style.colour, "window-label");
        }
        svg.close();
        std::reverse(requests_.begin() + firstLabel, requests_.end());
        std::reverse(labels_.begin() + firstLabel, labels_.end());
    }

    void drawItems(std::string_view key, Layer layer, LabelRank rank, const char* group) {
        const LayerStyle& style = layerStyle(layer);
        const std::string cssClass = layer == Layer::control ? "control" : "input";
        svg.open(std::string("class=\"") + group + "\"");
        for (const Json& item : list(snapshot_, key)) {
            const auto box = recordBox(item, display_);
            if (!box) continue;
            svg.rect(box->x, box->y, box->width, box->height, "class=\"" + cssClass + "\" " + styleAttributes(style));
            layers.insert(layer);
            if (const auto role = json_read::string(item, kRole))
                ask(*box, rank, *role, "", kSmallLabelSize, boxSpots(*box, true), style.colour, cssClass + "-label");
        }
        svg.close();
    }

    // Supports run along their side: "from" to "to" at "fixed" across; top and
    // bottom supports are horizontal, left and right ones vertical.
    void drawSupports() {
        svg.open("class=\"supports\"");
        for (const Json& support : list(snapshot_, kSupportProofs)) {
            const auto side = json_read::string(support, kSide);
            const auto from = finite(support, kFrom);
            const auto to = finite(support, kTo);
            const auto fixed = finite(support, kFixed);
            if (!side || !from || !to || !fixed) continue;
            const bool horizontal = *side == kTop || *side == kBottom;
            if (!horizontal && *side != kLeft && *side != kRight) continue;
            const auto source = json_read::string(support, kSource).value_or("");
            const Layer sourceLayer = source == kSelectedContour    ? Layer::contourSupport
                                      : source == kCompositedPixels ? Layer::pixelSupport
                                                                    : Layer::otherSupport;
            const Layer sideLayer = *side == kTop      ? Layer::topSide
                                    : *side == kBottom ? Layer::bottomSide
                                                       : Layer::wallSide;
            const double x1 = horizontal ? *from - display_.minX() : *fixed - display_.minX();
            const double y1 = horizontal ? *fixed - display_.minY() : *from - display_.minY();
            const double x2 = horizontal ? *to - display_.minX() : x1;
            const double y2 = horizontal ? y1 : *to - display_.minY();
            const LayerStyle& style = layerStyle(sourceLayer);
            svg.line(x1, y1, x2, y2,
                     std::string("class=\"support ") + style.name + " " + layerStyle(sideLayer).name + "\" " +
                         styleAttributes(style, layerStyle(sideLayer).dash) +
                         " stroke-linecap=\"round\" stroke-opacity=\"0.85\"");
            layers.insert(sourceLayer);
            layers.insert(sideLayer);
            ask({std::min(x1, x2), std::min(y1, y2), std::abs(x2 - x1), std::abs(y2 - y1)}, LabelRank::support,
                *side + " " + source, *side, kSmallLabelSize, lineSpots(x1, y1, x2, y2, horizontal), style.colour,
                "support-label");
        }
        svg.close();
    }

    // Visual edges are one-point-high rows; platform edges (ones a character
    // can stand on) are drawn solid and heavier.
    void drawVisuals() {
        svg.open("class=\"visuals\"");
        for (const Json& edge : list(snapshot_, kVisuals)) {
            const auto box = recordBox(edge, display_);
            if (!box) continue;
            const bool platform = json_read::boolean(edge, kPlatform).value_or(false);
            const Layer layer = platform ? Layer::platformEdge : Layer::visualEdge;
            svg.line(box->x, box->y, box->x + box->width, box->y,
                     std::string("class=\"visual") + (platform ? " platform" : "") + "\" " +
                         styleAttributes(layerStyle(layer)));
            layers.insert(layer);
        }
        svg.close();
    }

    // The labels last, over every shape, where they do not cover one another.
    void drawLabels() {
        std::vector<std::size_t> order(requests_.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return labels_[a].rank < labels_[b].rank; });
        std::vector<LabelRequest> ranked;
        for (const std::size_t i : order) ranked.push_back(requests_[i]);
        svg.open("class=\"labels\"");
        for (const PlacedLabel& placed : placeLabels(ranked, {0, 0, display_.width, display_.height})) {
            const LabelLook& look = labels_[order[placed.request]];
            const double size = ranked[placed.request].size;
            const Point at = textBaseline(placed.box, size);
            svg.label(at.x, at.y, size, look.colour, look.cssClass, placed.text);
        }
        svg.close();
    }

private:
    struct LabelLook {
        LabelRank rank;
        const char* colour;
        std::string cssClass;
    };

    // A label for the shape in `box`, unless the shape lies off the display:
    // moved onto it, the label would name something the picture does not show.
    void ask(const Box& box, LabelRank rank, const std::string& text, const std::string& shortText, double size,
             std::vector<LabelSpot> spots, const char* colour, std::string cssClass) {
        if (box.x > display_.width || box.x + box.width < 0 || box.y > display_.height || box.y + box.height < 0)
            return;
        requests_.push_back({xmlAllowed(text), xmlAllowed(shortText), size, std::move(spots)});
        labels_.push_back({rank, colour, std::move(cssClass)});
    }

    const Json& snapshot_;
    const Rect display_;
    std::vector<LabelRequest> requests_;
    std::vector<LabelLook> labels_;
};

std::vector<std::string> headerParts(const ScenePicture& picture) {
    const Json& snapshot = picture.snapshot;
    std::size_t platforms = 0;
    for (const Json& edge : list(snapshot, kVisuals)) platforms += json_read::boolean(edge, kPlatform).value_or(false);
    const auto session = json_read::string(snapshot, kCaptureSession);
    const auto status = json_read::string(snapshot, kStatus);
    std::vector<std::string> parts{"capture " + session.value_or("-")};
    if (status && *status != "ready") parts.push_back("snapshot " + *status);
    parts.push_back(picture.snapshotsPerSecond
                        ? svgNumber(std::round(*picture.snapshotsPerSecond * 10) / 10) + " snapshots/s"
                        : std::string("single pass"));
    parts.push_back("supports " + std::to_string(list(snapshot, kSupportProofs).size()));
    parts.push_back("edges " + std::to_string(list(snapshot, kVisuals).size()) + " (" + std::to_string(platforms) +
                    " platform)");
    if (!picture.frame) parts.push_back("no frame");
    parts.push_back(picture.time);
    for (std::string& part : parts) part = xmlAllowed(part);
    return parts;
}

}  // namespace

std::string sceneSvg(const ScenePicture& picture) {
    const Rect display = picture.display.standardized();
    Desktop desktop(picture.snapshot, display);
    desktop.drawBackground(picture.frame);
    desktop.drawDocks();
    desktop.drawWindows();
    desktop.drawItems(kControls, Layer::control, LabelRank::control, "controls");
    desktop.drawItems(kInputs, Layer::input, LabelRank::input, "inputs");
    desktop.drawSupports();
    desktop.drawVisuals();
    desktop.drawLabels();

    const double width = std::max(display.width, kMinimumWidth);
    const LegendBand band = legendBand({headerParts(picture), desktop.layers, picture.frame.has_value()}, width);
    const std::string height = svgNumber(band.height + display.height);
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"" +
           svgNumber(width) + "\" height=\"" + height + "\" viewBox=\"0 0 " + svgNumber(width) + " " + height +
           "\" font-family=\"monospace\">\n";
    if (width > display.width)
        svg += "<rect x=\"0\" y=\"0\" width=\"" + svgNumber(width) + "\" height=\"" + height + "\" fill=\"" +
               kMarginColour + "\"/>\n";
    svg += band.svg;
    // The desktop in display points below the band; a nested document clips
    // whatever reaches past the display's edges.
    svg += "<svg class=\"desktop\" x=\"0\" y=\"" + svgNumber(band.height) + "\" width=\"" + svgNumber(display.width) +
           "\" height=\"" + svgNumber(display.height) + "\" viewBox=\"0 0 " + svgNumber(display.width) + " " +
           svgNumber(display.height) + "\">\n";
    svg += desktop.svg.document;
    svg += "</svg>\n</svg>\n";
    return svg;
}

}  // namespace scene::view
