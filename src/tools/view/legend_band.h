#pragma once

#include <set>
#include <string>
#include <vector>

#include "tools/view/layer_style.h"

namespace scene::view {

// What the band above the desktop tells.
struct BandContent {
    std::vector<std::string> header;  // the header's parts in order, as the picture shows them (xmlAllowed)
    std::set<Layer> layers;           // the layers the desktop shows
    bool frame = false;               // the desktop is drawn over a captured still
};

struct LegendBand {
    std::string svg;  // its elements, from y 0 down to `height`
    double height = 0;
};

// The header and the legend laid out across `width`, so neither has to cover
// the desktop: the header's parts joined by " | " on as few lines as hold them,
// one legend entry per layer shown (a swatch drawn as the desktop draws it and
// its meaning) in as many columns as fit, and a line on what lies underneath.
// Texts too long for the width are shortened.
LegendBand legendBand(const BandContent& content, double width);

}  // namespace scene::view
