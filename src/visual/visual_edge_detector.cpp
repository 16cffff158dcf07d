#include "visual/visual_edge_detector.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "visual/visual_gray_pixels.h"

namespace scene {
namespace {

constexpr int kMinimumSide = 80;

// Layout distances in points and the pixel floors that keep them meaningful on
// small or heavily scaled captures.
constexpr double kMinimumRunPoints = 110;  // shortest edge worth standing on
constexpr int kMinimumRunPixels = 36;
constexpr double kSideMarginPoints = 10;  // window frame and resize handles
constexpr int kMinimumSideMargin = 5;
constexpr double kTopMarginPoints = 80;  // title bar and toolbar: read as context only
constexpr int kMinimumTopMargin = 8;
constexpr double kReachPoints = 14;  // slack for borders that start a little inside or outside the edge
constexpr int kMinimumReach = 2;
constexpr double kNearPoints = 12;  // border rows below the edge: skips rounded corners
constexpr int kMinimumNear = 3;
constexpr double kFarPoints = 32;
constexpr int kMinimumFar = 6;
// Scaled distances are capped before they become integers: an absurdly small
// point size must fail the size checks, not overflow.
constexpr double kPixelCap = 1 << 20;

constexpr int kLastRowFromBottom = 7;  // rows are scanned down to height - 7
constexpr int kMinimumStep = 8;        // gray levels
constexpr int kMinimumBend = 6;        // change of step against the row above or below
constexpr int kBridgeReach = 3;        // an edge pixel this far from the last one continues the run
// Runs and borders must be at least 90 % edge pixels; compared in integers.
constexpr int kDensityParts = 9;
constexpr int kDensityWhole = 10;
constexpr std::size_t kMaximumRawEdges = 512;

constexpr int kFingerprintRows[] = {-4, -2, 2, 4};
constexpr int kFingerprintSlices = 16;  // samples sit at odd sixteenths of the run
constexpr int kFingerprintShift = 3;    // 0-255 down to 0-31

constexpr double kDuplicatePoints = 6;
constexpr double kDuplicateRows = 3;
constexpr double kDuplicateOverlap = 0.8;

constexpr std::uint8_t kNoEdge = 0;
constexpr std::uint8_t kBrighter = 1;
constexpr std::uint8_t kDarker = 2;
static_assert(kDarker == kBrighter + 1, "row classification derives the flag from the step's sign");

int scaledPixels(double points, double pointsPerPixel, int floor, bool roundUp) {
    double pixels = points / pointsPerPixel;
    if (roundUp) pixels = std::ceil(pixels);
    return std::max(floor, static_cast<int>(std::min(pixels, kPixelCap)));
}

// A step of at least 8 levels that is not just part of a smooth ramp: it must
// differ from the neighbouring step on one side or the other.
inline bool isEdgeStep(int before2, int before, int at, int after) {
    const int step = at - before;
    const int bend = std::max(std::abs(step - (before - before2)), std::abs((after - at) - step));
    return std::abs(step) >= kMinimumStep && bend >= kMinimumBend;
}

inline bool dense(int count, int span) { return count * kDensityWhole > kDensityParts * span; }

struct Run {
    int start = 0;
    int end = 0;
    int count = 0;
    int sum = 0;
    std::uint8_t polarity = kNoEdge;
};

class Detector {
public:
    Detector(const std::uint8_t* pixels, int width, int height, double pointWidth, double pointHeight)
        : pixels_(pixels),
          width_(width),
          height_(height),
          sx_(pointWidth / width),
          sy_(pointHeight / height),
          minimumRun_(scaledPixels(kMinimumRunPoints, sx_, kMinimumRunPixels, false)),
          sideMargin_(scaledPixels(kSideMarginPoints, sx_, kMinimumSideMargin, false)),
          topMargin_(scaledPixels(kTopMarginPoints, sy_, kMinimumTopMargin, false)),
          reach_(scaledPixels(kReachPoints, sx_, kMinimumReach, true)),
          near_(scaledPixels(kNearPoints, sy_, kMinimumNear, true)),
          far_(scaledPixels(kFarPoints, sy_, kMinimumFar, true)) {}

    bool fits() const {
        return static_cast<double>(minimumRun_) + 2.0 * sideMargin_ < width_ && topMargin_ < height_ - 8;
    }

    std::vector<VisualEdge> scan() {
        const int first = sideMargin_;
        const int last = width_ - sideMargin_ - 1;
        flags_.assign(static_cast<std::size_t>(width_) + 8, kNoEdge);
        steps_.assign(static_cast<std::size_t>(width_), 0);
        for (int y = topMargin_; y <= height_ - kLastRowFromBottom; ++y) {
            const int edgePixels = classifyRow(y, first, last);
            // A row with too few edge pixels in total cannot hold one dense
            // enough run; most rows of a window end here.
            if (!dense(edgePixels, minimumRun_)) continue;
            scanRow(y, first, last);
            // Later rows could add nothing more.
            if (edges_.size() >= kMaximumRawEdges) break;
        }
        return std::move(edges_);
    }

private:
    std::uint8_t at(int c, int r) const { return pixels_[static_cast<std::size_t>(r) * width_ + c]; }
    const std::uint8_t* row(int r) const { return pixels_ + static_cast<std::size_t>(r) * width_; }

    int classifyRow(int y, int first, int last) {
        // Restrict-qualified and branch-free so the compiler vectorises the
        // row; this loop is most of the detector's time.
        const std::uint8_t* __restrict up2 = row(y - 2);
        const std::uint8_t* __restrict up = row(y - 1);
        const std::uint8_t* __restrict cur = row(y);
        const std::uint8_t* __restrict down = row(y + 1);
        std::uint8_t* __restrict flags = flags_.data();
        std::uint8_t* __restrict steps = steps_.data();
        int count = 0;
        // Sixteen-bit arithmetic (every value here lies within -510...510)
        // doubles the lanes per vector over int.
        for (int c = first; c <= last; ++c) {
            const auto step = static_cast<std::int16_t>(cur[c] - up[c]);
            const auto above = static_cast<std::int16_t>(step - static_cast<std::int16_t>(up[c] - up2[c]));
            const auto below = static_cast<std::int16_t>(static_cast<std::int16_t>(down[c] - cur[c]) - step);
            const std::int16_t size = std::max<std::int16_t>(step, static_cast<std::int16_t>(-step));
            const std::int16_t bend =
                std::max({above, static_cast<std::int16_t>(-above), below, static_cast<std::int16_t>(-below)});
            const std::uint8_t edge = (size >= kMinimumStep) & (bend >= kMinimumBend);
            flags[c] = static_cast<std::uint8_t>(edge * (kBrighter + (step <= 0)));
            steps[c] = static_cast<std::uint8_t>(size);
            count += edge;
        }
        return count;
    }

    void scanRow(int y, int first, int last) {
        const std::uint8_t* flags = flags_.data();
        Run run;
        bool open = false;
        for (int c = first; c <= last; ++c) {
            if (!open) {
                // Skip quiet stretches eight columns at a time; the flag
                // buffer is padded so the read never leaves it.
                std::uint64_t word = 0;
                while (c + 8 <= last + 1) {
                    std::memcpy(&word, flags + c, sizeof word);
                    if (word != 0) break;
                    c += 8;
                }
                if (c > last) break;
            }
            const std::uint8_t flag = flags[c];
            if (flag != kNoEdge) {
                if (open && run.polarity == flag && c - run.end <= kBridgeReach) {
                    run.end = c;
                    run.count += 1;
                    run.sum += steps_[c];
                } else {
                    if (open) close(run, y);
                    run = Run{c, c, 1, steps_[c], flag};
                    open = true;
                }
            } else if (open && c - run.end >= kBridgeReach) {
                close(run, y);
                open = false;
            }
        }
        if (open) close(run, y);
    }

    void close(const Run& run, int y) {
        const int span = run.end - run.start + 1;
        if (edges_.size() >= kMaximumRawEdges || span < minimumRun_ || !dense(run.count, span)) return;
        VisualEdge edge;
        edge.x = run.start * sx_;
        edge.y = y * sy_;
        edge.width = span * sx_;
        edge.strength = static_cast<double>(run.sum) / run.count;
        edge.fingerprint.reserve(std::size(kFingerprintRows) * kFingerprintSlices / 2);
        for (const int offset : kFingerprintRows) {
            for (int k = 1; k < kFingerprintSlices; k += 2) {
                const int column = run.start + std::min(k * span / kFingerprintSlices, span - 1);
                edge.fingerprint.push_back(at(column, y + offset) >> kFingerprintShift);
            }
        }
        edge.platform = y + far_ < height_ && hasBorderNear(run.start, y) && hasBorderNear(run.end, y);
        edges_.push_back(std::move(edge));
    }

    bool hasBorderNear(int column, int y) const {
        const int first = std::max(2, column - reach_);
        const int last = std::min(width_ - 2, column + reach_);
        for (int c = first; c <= last; ++c) {
            if (isVerticalBorder(c, y + near_, y + far_)) return true;
        }
        return false;
    }

    bool isVerticalBorder(int c, int top, int bottom) const {
        const int rows = bottom - top + 1;
        const int allowedMisses = rows - (kDensityParts * rows + kDensityWhole - 1) / kDensityWhole;
        int misses = 0;
        for (int r = top; r <= bottom; ++r) {
            if (isEdgeStep(at(c - 2, r), at(c - 1, r), at(c, r), at(c + 1, r))) continue;
            if (++misses > allowedMisses) return false;
        }
        return true;
    }

    const std::uint8_t* pixels_;
    const int width_;
    const int height_;
    const double sx_;
    const double sy_;
    const int minimumRun_;
    const int sideMargin_;
    const int topMargin_;
    const int reach_;
    const int near_;
    const int far_;
    std::vector<std::uint8_t> flags_;
    std::vector<std::uint8_t> steps_;
    std::vector<VisualEdge> edges_;
};

double overlapRatio(const VisualEdge& a, const VisualEdge& b) {
    const double overlap = std::max(0.0, std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x));
    return overlap / std::max(a.width, b.width);
}

// The upper of two near-identical lines survives (then the one found first):
// a border drawn two pixels thick is one place to stand, not two.
std::vector<VisualEdge> withoutDuplicates(std::vector<VisualEdge> edges, double sy) {
    std::stable_sort(edges.begin(), edges.end(), [](const VisualEdge& a, const VisualEdge& b) { return a.y < b.y; });
    const double vertical = std::max(kDuplicatePoints, kDuplicateRows * sy);
    std::vector<VisualEdge> kept;
    for (VisualEdge& edge : edges) {
        const bool duplicate = std::any_of(kept.begin(), kept.end(), [&](const VisualEdge& other) {
            return std::abs(other.y - edge.y) <= vertical && overlapRatio(other, edge) > kDuplicateOverlap;
        });
        if (!duplicate) kept.push_back(std::move(edge));
    }
    return kept;
}

}  // namespace

std::vector<VisualEdge> detectVisualEdges(std::span<const std::uint8_t> pixels, int width, int height,
                                          double pointWidth, double pointHeight) {
    if (width < kMinimumSide || width > kVisualMaximumPixels || height < kMinimumSide || height > kVisualMaximumPixels)
        return {};
    if (pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) return {};
    // Non-finite sizes would put infinities into the records, which serialise as null.
    if (!(pointWidth > 0) || !(pointHeight > 0) || !std::isfinite(pointWidth) || !std::isfinite(pointHeight)) return {};

    Detector detector(pixels.data(), width, height, pointWidth, pointHeight);
    if (!detector.fits()) return {};
    std::vector<VisualEdge> edges = withoutDuplicates(detector.scan(), pointHeight / height);

    std::stable_sort(edges.begin(), edges.end(), [](const VisualEdge& a, const VisualEdge& b) {
        if (a.platform != b.platform) return a.platform;
        return a.width * a.strength > b.width * b.strength;
    });
    if (edges.size() > static_cast<std::size_t>(kVisualEdgeLimit)) edges.resize(kVisualEdgeLimit);
    return edges;
}

}  // namespace scene
