#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "visual/visual_edge.h"

namespace scene {

inline constexpr int kVisualEdgeLimit = 24;

// Long, straight horizontal intensity steps in a gray buffer (row-major,
// `width` bytes per row), best first: box tops ("platforms") before plain
// lines, then by length times strength; near-duplicates are folded into the
// upper one. `pointWidth` and `pointHeight` give the size in points of the
// region the buffer shows; every result is in those points. Any input outside
// 80...768 pixels a side, a buffer of another size, or a point size that is not
// a positive finite number gives an empty list. Pure and reentrant.
std::vector<VisualEdge> detectVisualEdges(std::span<const std::uint8_t> pixels, int width, int height,
                                          double pointWidth, double pointHeight);

}  // namespace scene
