// The visual edge detector on drawn and noisy gray pictures of any size up to
// 512 x 512 (the sizes around the 80-pixel floor included), with any point
// size: zero, negative, NaN, infinite, or so small or large that the derived
// pixel distances overflow. Edges must lie inside the picture, keep their
// ranking and stay apart, and a picture with every gray level inverted must
// give the same edges: the detector reads steps and their bends by size, not
// by sign.
//
// Input: read through FuzzedDataProvider: sizes, point sizes, then the drawing.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_inputs.h"
#include "visual/visual_edge_detector.h"

namespace scene {
namespace {

using fuzz::require;

constexpr int kLargestSide = 512;
constexpr std::size_t kFingerprintLength = 32;

int side(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange(0, 15)) {
        case 0:
            return input.ConsumeIntegralInRange(-2, 90);  // around the 80-pixel floor
        case 1:
            return input.ConsumeBool() ? 79 : 80;
        default:
            return input.ConsumeIntegralInRange(80, kLargestSide);
    }
}

// Relative slack for comparisons of values computed in points: the products
// and quotients behind them are rounded once or twice.
bool atMost(double value, double limit) { return value <= limit + 1e-9 * std::fabs(limit) + 1e-9; }

void checkEdges(const std::vector<VisualEdge>& edges, int width, int height, double pointWidth, double pointHeight) {
    require(edges.size() <= static_cast<std::size_t>(kVisualEdgeLimit), "at most 24 edges");
    const double sx = pointWidth / width;
    const double sy = pointHeight / height;
    for (std::size_t i = 0; i < edges.size(); ++i) {
        const VisualEdge& edge = edges[i];
        require(std::isfinite(edge.x) && std::isfinite(edge.y) && std::isfinite(edge.width), "finite geometry");
        require(edge.x >= 0 && edge.y >= 0 && edge.width > 0, "edges start inside the picture");
        require(atMost(edge.x + edge.width, pointWidth), "edges end inside the picture");
        require(edge.y < pointHeight, "edges lie above the bottom");
        // At least the pixel floor of the shortest accepted run, 36 pixels.
        require(edge.width >= 36 * sx * (1 - 1e-12), "edges are long");
        require(edge.strength >= 8 && edge.strength <= 255, "strength is a mean step of at least 8 levels");
        require(edge.fingerprint.size() == kFingerprintLength, "32 fingerprint samples");
        for (const int sample : edge.fingerprint) require(sample >= 0 && sample <= 31, "samples are 0-31");
        if (i > 0) {
            const VisualEdge& before = edges[i - 1];
            require(before.platform || !edge.platform, "platforms come first");
            if (before.platform == edge.platform)
                require(before.width * before.strength >= edge.width * edge.strength,
                        "ranked by length times strength");
        }
        // Folded duplicates stay folded: no two survivors lie this close.
        for (std::size_t j = 0; j < i; ++j) {
            const VisualEdge& other = edges[j];
            if (std::fabs(other.y - edge.y) > std::max(6.0, 3 * sy)) continue;
            const double overlap =
                std::max(0.0, std::min(other.x + other.width, edge.x + edge.width) - std::max(other.x, edge.x));
            require(overlap / std::max(other.width, edge.width) <= 0.8, "no near-duplicates survive");
        }
    }
}

void run(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int width = side(input);
    const int height = side(input);
    const double pointWidth =
        input.ConsumeBool() ? width * input.ConsumeFloatingPointInRange(0.25, 4.0) : fuzz::edgyDouble(input, -10, 2000);
    const double pointHeight = input.ConsumeBool() ? height * input.ConsumeFloatingPointInRange(0.25, 4.0)
                                                   : fuzz::edgyDouble(input, -10, 2000);
    const bool wrongSize = input.ConsumeIntegralInRange(0, 31) == 0;
    std::vector<std::uint8_t> pixels = fuzz::paintGray(input, std::max(width, 0), std::max(height, 0));
    if (wrongSize) pixels.push_back(0);

    const std::vector<VisualEdge> edges = detectVisualEdges(pixels, width, height, pointWidth, pointHeight);
    const bool admitted = width >= 80 && width <= 768 && height >= 80 && height <= 768 && !wrongSize &&
                          pointWidth > 0 && pointHeight > 0 && std::isfinite(pointWidth) && std::isfinite(pointHeight);
    if (!admitted) {
        require(edges.empty(), "inputs outside the accepted range give no edges");
        return;
    }
    checkEdges(edges, width, height, pointWidth, pointHeight);

    std::vector<std::uint8_t> inverted(pixels);
    for (std::uint8_t& p : inverted) p = static_cast<std::uint8_t>(255 - p);
    const std::vector<VisualEdge> mirrored = detectVisualEdges(inverted, width, height, pointWidth, pointHeight);
    require(mirrored.size() == edges.size(), "inverting the picture keeps the edges");
    for (std::size_t i = 0; i < edges.size(); ++i) {
        const VisualEdge& a = edges[i];
        const VisualEdge& b = mirrored[i];
        require(a.x == b.x && a.y == b.y && a.width == b.width && a.strength == b.strength && a.platform == b.platform,
                "inverting the picture keeps each edge");
        for (std::size_t k = 0; k < kFingerprintLength; ++k)
            require(a.fingerprint[k] + b.fingerprint[k] == 31, "inverting the picture inverts the fingerprint");
    }
}

}  // namespace
}  // namespace scene

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    scene::run(data, size);
    return 0;
}
