#include "tools/view/svg_writer.h"

#include <cmath>
#include <cstdio>

#include "platform/json_read.h"
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

// Colours, one per kind of thing, so a glance tells them apart.
constexpr const char* kWindowColour = "#8fd3ff";
constexpr const char* kDockColour = "#6cc070";
constexpr const char* kSupportColour = "#ff8c1a";
constexpr const char* kVisualColour = "#00e5ff";
constexpr const char* kControlColour = "#c39bff";
constexpr const char* kInputColour = "#ff5fa2";
constexpr const char* kPlainBackground = "#1b2430";
constexpr const char* kLabelOutline = "#000000";

constexpr double kHeaderHeight = 24;

// Coordinates with at most two decimals, without trailing zeros.
std::string number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string s(text);
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s;
}

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

class SvgBuilder {
public:
    std::string text;

    void rect(const Box& box, const std::string& attributes) {
        text += "<rect x=\"" + number(box.x) + "\" y=\"" + number(box.y) + "\" width=\"" + number(box.width) +
                "\" height=\"" + number(box.height) + "\" " + attributes + "/>\n";
    }
    void line(double x1, double y1, double x2, double y2, const std::string& attributes) {
        text += "<line x1=\"" + number(x1) + "\" y1=\"" + number(y1) + "\" x2=\"" + number(x2) + "\" y2=\"" +
                number(y2) + "\" " + attributes + "/>\n";
    }
    // A small label, outlined so it stays readable over any pixels.
    void label(double x, double y, double size, const char* colour, const std::string& cssClass,
               std::string_view content) {
        text += "<text class=\"" + cssClass + "\" x=\"" + number(x) + "\" y=\"" + number(y) + "\" font-size=\"" +
                number(size) + "\" fill=\"" + colour + "\" stroke=\"" + kLabelOutline +
                "\" stroke-width=\"2\" paint-order=\"stroke\">" + xmlEscaped(content) + "</text>\n";
    }
    void open(const char* group) { text += std::string("<g class=\"") + group + "\">\n"; }
    void close() { text += "</g>\n"; }
};

void drawBackground(SvgBuilder& svg, const ScenePicture& picture, const Box& whole) {
    svg.open("background");
    if (picture.frame) {
        // The frame is stretched over the display: the sampler captures at
        // one pixel per point, and a smaller frame still covers the same area.
        svg.text += "<image x=\"0\" y=\"0\" width=\"" + number(whole.width) + "\" height=\"" + number(whole.height) +
                    "\" preserveAspectRatio=\"none\" xlink:href=\"data:image/jpeg;base64," +
                    xmlEscaped(picture.frame->base64) + "\"/>\n";
        svg.rect(whole, "class=\"dim\" fill=\"#000000\" fill-opacity=\"0.45\"");
    } else {
        svg.rect(whole, std::string("class=\"plain\" fill=\"") + kPlainBackground + "\"");
    }
    svg.close();
}

void drawDocks(SvgBuilder& svg, const Json& snapshot, const Rect& display) {
    svg.open("docks");
    for (const Json& dock : list(snapshot, kDocks)) {
        const auto box = recordBox(dock, display);
        if (!box) continue;
        svg.rect(*box, std::string("class=\"dock\" fill=\"") + kDockColour + "\" fill-opacity=\"0.35\" stroke=\"" +
                           kDockColour + "\" stroke-width=\"1.5\"");
        const std::string name =
            json_read::string(dock, kId).value_or("dock") + " " + json_read::string(dock, kSide).value_or("");
        svg.label(box->x + 4, box->y + box->height - 6, 11, kDockColour, "dock-label", name);
    }
    svg.close();
}

void drawWindows(SvgBuilder& svg, const Json& snapshot, const Rect& display) {
    const Json* context = json_read::member(snapshot, kContext);
    const auto focused = context ? json_read::string(*context, kFocusedWindowId) : std::nullopt;
    const Json& windows = list(snapshot, kWindows);
    svg.open("windows");
    // Back to front, so the front windows' outlines and labels end up on top.
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        const Json& window = *it;
        const auto box = recordBox(window, display);
        if (!box) continue;
        const auto id = json_read::string(window, kId).value_or("");
        const bool isFocused = focused && *focused == id;
        const bool systemUI = json_read::member(window, kSystemUI) != nullptr;
        std::string cssClass = "window";
        if (isFocused) cssClass += " focused";
        if (systemUI) cssClass += " system-ui";
        std::string attributes = "class=\"" + cssClass + "\" data-id=\"" + xmlEscaped(id) +
                                 "\" fill=\"none\" stroke=\"" + kWindowColour + "\" stroke-width=\"" +
                                 (isFocused ? "4" : "1.5") + "\"";
        if (systemUI) attributes += " stroke-dasharray=\"6 4\"";
        svg.rect(*box, attributes);
        svg.label(box->x + 4, box->y + 13, 11, kWindowColour, "window-label", id);
    }
    svg.close();
}

void drawItems(SvgBuilder& svg, const Json& snapshot, const Rect& display, std::string_view key, const char* group,
               const char* cssClass, const char* colour, const char* dash) {
    svg.open(group);
    for (const Json& item : list(snapshot, key)) {
        const auto box = recordBox(item, display);
        if (!box) continue;
        std::string attributes =
            std::string("class=\"") + cssClass + "\" fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"1.5\"";
        if (dash != nullptr) attributes += std::string(" stroke-dasharray=\"") + dash + "\"";
        svg.rect(*box, attributes);
        if (const auto role = json_read::string(item, kRole))
            svg.label(box->x + 3, box->y + box->height - 4, 9, colour, std::string(cssClass) + "-label", *role);
    }
    svg.close();
}

// Supports run along their side: "from" to "to" at "fixed" across; top and
// bottom supports are horizontal, left and right ones vertical.
void drawSupports(SvgBuilder& svg, const Json& snapshot, const Rect& display) {
    svg.open("supports");
    for (const Json& support : list(snapshot, kSupportProofs)) {
        const auto side = json_read::string(support, kSide);
        const auto from = finite(support, kFrom);
        const auto to = finite(support, kTo);
        const auto fixed = finite(support, kFixed);
        if (!side || !from || !to || !fixed) continue;
        const bool horizontal = *side == "top" || *side == "bottom";
        const double x1 = horizontal ? *from - display.minX() : *fixed - display.minX();
        const double y1 = horizontal ? *fixed - display.minY() : *from - display.minY();
        const double x2 = horizontal ? *to - display.minX() : x1;
        const double y2 = horizontal ? y1 : *to - display.minY();
        svg.line(x1, y1, x2, y2,
                 std::string("class=\"support\" stroke=\"") + kSupportColour +
                     "\" stroke-width=\"4\" stroke-linecap=\"round\" stroke-opacity=\"0.85\"");
        const std::string name = *side + " " + json_read::string(support, kSource).value_or("");
        svg.label(horizontal ? x1 + 2 : x1 + 5, horizontal ? y1 - 5 : y1 + 12, 9, kSupportColour, "support-label",
                  name);
    }
    svg.close();
}

// Visual edges are one-point-high rows; platform edges (ones a character can
// stand on) are drawn solid and heavier.
void drawVisuals(SvgBuilder& svg, const Json& snapshot, const Rect& display) {
    svg.open("visuals");
    for (const Json& edge : list(snapshot, kVisuals)) {
        const auto box = recordBox(edge, display);
        if (!box) continue;
        const bool platform = json_read::boolean(edge, kPlatform).value_or(false);
        svg.line(box->x, box->y, box->x + box->width, box->y,
                 std::string("class=\"visual") + (platform ? " platform" : "") + "\" stroke=\"" + kVisualColour +
                     (platform ? "\" stroke-width=\"2\"" : "\" stroke-width=\"1\" stroke-dasharray=\"3 3\""));
    }
    svg.close();
}

void drawHeader(SvgBuilder& svg, const ScenePicture& picture, const Box& whole) {
    const Json& snapshot = picture.snapshot;
    std::size_t platforms = 0;
    for (const Json& edge : list(snapshot, kVisuals)) platforms += json_read::boolean(edge, kPlatform).value_or(false);
    const auto session = json_read::string(snapshot, kCaptureSession);
    const auto status = json_read::string(snapshot, kStatus);
    std::string text = "capture " + session.value_or("-");
    if (status && *status != "ready") text += " | snapshot " + *status;
    text +=
        " | " + (picture.snapshotsPerSecond ? number(std::round(*picture.snapshotsPerSecond * 10) / 10) + " snapshots/s"
                                            : std::string("single pass"));
    text += " | supports " + std::to_string(list(snapshot, kSupportProofs).size());
    text +=
        " | edges " + std::to_string(list(snapshot, kVisuals).size()) + " (" + std::to_string(platforms) + " platform)";
    if (!picture.frame) text += " | no frame";
    text += " | " + picture.time;
    svg.open("header");
    svg.rect({0, 0, whole.width, kHeaderHeight}, "fill=\"#000000\" fill-opacity=\"0.6\"");
    svg.text += "<text x=\"8\" y=\"17\" font-size=\"14\" fill=\"#ffffff\">" + xmlEscaped(text) + "</text>\n";
    svg.close();
}

}  // namespace

std::string sceneSvg(const ScenePicture& picture) {
    const Rect display = picture.display.standardized();
    const Box whole{0, 0, display.width, display.height};
    SvgBuilder svg;
    svg.text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg.text += "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"" +
                number(whole.width) + "\" height=\"" + number(whole.height) + "\" viewBox=\"0 0 " +
                number(whole.width) + " " + number(whole.height) + "\" font-family=\"monospace\">\n";
    drawBackground(svg, picture, whole);
    drawDocks(svg, picture.snapshot, display);
    drawWindows(svg, picture.snapshot, display);
    drawItems(svg, picture.snapshot, display, kControls, "controls", "control", kControlColour, nullptr);
    drawItems(svg, picture.snapshot, display, kInputs, "inputs", "input", kInputColour, "4 2");
    drawSupports(svg, picture.snapshot, display);
    drawVisuals(svg, picture.snapshot, display);
    drawHeader(svg, picture, whole);
    svg.text += "</svg>\n";
    return svg.text;
}

}  // namespace scene::view
