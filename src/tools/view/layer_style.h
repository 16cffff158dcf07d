#pragma once

#include <string>

namespace scene::view {

// The kinds of things a picture draws, in the order its legend lists them.
// Supports take their colour from their source and their dash from their side.
enum class Layer {
    window,
    focusedWindow,
    systemWindow,
    dock,
    contourSupport,
    pixelSupport,
    otherSupport,
    topSide,
    bottomSide,
    wallSide,
    platformEdge,
    visualEdge,
    control,
    input,
};
inline constexpr int kLayerCount = static_cast<int>(Layer::input) + 1;

// How one layer looks, and what the legend says it is. Constant data.
struct LayerStyle {
    enum class Swatch { outline, filled, line };

    const char* name;     // its class in the picture and its word in the legend's data-layer
    const char* meaning;  // the legend's text
    Swatch swatch;        // how the legend shows it
    const char* colour;
    double strokeWidth;
    const char* dash;  // nullptr: solid
};

const LayerStyle& layerStyle(Layer layer);

// Fill and stroke attributes of that style, with `dash` in place of its own.
std::string styleAttributes(const LayerStyle& style, const char* dash);
inline std::string styleAttributes(const LayerStyle& style) { return styleAttributes(style, style.dash); }

}  // namespace scene::view
