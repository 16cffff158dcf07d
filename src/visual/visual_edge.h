#pragma once

#include <vector>

namespace scene {

// One long horizontal intensity step found in a captured window, in points
// relative to the window's top-left corner. A plain value, handed from the
// detector to the tracker on the visual sampler's queue.
struct VisualEdge {
    double x = 0;
    // The step lies between this row and the one above it.
    double y = 0;
    double width = 0;
    double strength = 0;  // mean absolute gray step (0-255) over the edge's pixels
    // 32 coarse gray samples (0-31) around the edge; the tracker's appearance test.
    std::vector<int> fingerprint;
    bool platform = false;  // vertical borders descend from both ends

    bool operator==(const VisualEdge&) const = default;
};

}  // namespace scene
