#include "tools/view/layer_style.h"

#include <array>

#include "tools/view/svg_builder.h"

namespace scene::view {
namespace {

using Swatch = LayerStyle::Swatch;

// Colours, one per kind of thing, so a glance tells them apart; the side
// styles are neutral since a support's colour tells its source.
constexpr std::array<LayerStyle, kLayerCount> kStyles{{
    {"window", "window", Swatch::outline, "#8fd3ff", 1.5, nullptr},
    {"focused-window", "focused window", Swatch::outline, "#8fd3ff", 4, nullptr},
    {"system-window", "system window (notifications, input candidates)", Swatch::outline, "#8fd3ff", 1.5, "6 4"},
    {"dock", "Dock shelf", Swatch::filled, "#6cc070", 1.5, nullptr},
    {"contour-support", "support on a window outline or Dock shelf", Swatch::line, "#ff8c1a", 4, nullptr},
    {"pixel-support", "support on a visual edge", Swatch::line, "#ffe14d", 4, nullptr},
    {"other-support", "support of another source", Swatch::line, "#ff5f5f", 4, nullptr},
    {"top-side", "top support: stand on it", Swatch::line, "#e8e8e8", 4, nullptr},
    {"bottom-side", "bottom support: a ledge seen from below", Swatch::line, "#e8e8e8", 4, "9 7"},
    {"wall-side", "left or right support: a wall", Swatch::line, "#e8e8e8", 4, "0.1 7"},
    {"platform-edge", "visual edge, top of a box", Swatch::line, "#00e5ff", 2, nullptr},
    {"visual-edge", "visual edge", Swatch::line, "#00e5ff", 1, "3 3"},
    {"control", "control", Swatch::outline, "#c39bff", 1.5, nullptr},
    {"input", "text input", Swatch::outline, "#ff5fa2", 1.5, "4 2"},
}};

}  // namespace

const LayerStyle& layerStyle(Layer layer) { return kStyles[static_cast<std::size_t>(layer)]; }

std::string styleAttributes(const LayerStyle& style, const char* dash) {
    std::string attributes = style.swatch == Swatch::filled
                                 ? std::string("fill=\"") + style.colour + "\" fill-opacity=\"0.35\""
                                 : std::string("fill=\"none\"");
    attributes += std::string(" stroke=\"") + style.colour + "\" stroke-width=\"" + svgNumber(style.strokeWidth) + "\"";
    if (dash != nullptr) attributes += std::string(" stroke-dasharray=\"") + dash + "\"";
    return attributes;
}

}  // namespace scene::view
