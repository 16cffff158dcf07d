// One visual analysis as the visual sampler runs it on its queue: gray
// conversion, edge detection and tracking of a 768 x 768 capture of a busy
// window (title bar, toolbar, sidebar, cards, a table and lines of text), and
// the detector alone. Targets: 1 ms per analysis, 0.5 ms for the detector.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "visual/visual_edge_detector.h"
#include "visual/visual_edge_tracker.h"
#include "visual/visual_gray_pixels.h"

namespace {

constexpr int kSide = 768;

class WindowPainter {
public:
    WindowPainter() : bytes_(static_cast<std::size_t>(kSide) * kSide * 4) {}

    void fill(int x, int y, int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        for (int row = y; row < std::min(kSide, y + height); ++row) {
            for (int column = x; column < std::min(kSide, x + width); ++column) {
                std::uint8_t* p = bytes_.data() + (static_cast<std::size_t>(row) * kSide + column) * 4;
                p[0] = b;
                p[1] = g;
                p[2] = r;
                p[3] = 255;
            }
        }
    }
    void gray(int x, int y, int width, int height, std::uint8_t value) {
        fill(x, y, width, height, value, value, value);
    }

    // Glyph-sized dark marks in lines, like body text.
    void text(int x, int y, int width, int lines, std::mt19937& random) {
        std::uniform_int_distribution<int> glyph(3, 8);
        std::uniform_int_distribution<int> ink(30, 110);
        std::uniform_int_distribution<int> gap(1, 4);
        for (int line = 0; line < lines; ++line) {
            const int top = y + line * 18;
            for (int column = x; column < x + width;) {
                const int w = glyph(random);
                const int h = glyph(random) + 2;
                gray(column, top + 12 - h, w, h, static_cast<std::uint8_t>(ink(random)));
                column += w + gap(random) + (gap(random) == 4 ? 6 : 0);
            }
        }
    }

    scene::Image image() const { return scene::Image(kSide, kSide, kSide * 4, bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

scene::Image busyWindow() {
    WindowPainter painter;
    std::mt19937 random(7);
    painter.gray(0, 0, kSide, kSide, 250);
    painter.gray(0, 0, kSide, 28, 228);  // title bar
    painter.gray(0, 28, kSide, 1, 190);
    painter.gray(0, 29, kSide, 44, 238);  // toolbar
    painter.gray(0, 73, kSide, 1, 200);
    painter.fill(0, 74, 200, kSide - 74, 236, 236, 242);  // sidebar
    painter.gray(200, 74, 1, kSide - 74, 205);
    painter.text(16, 100, 160, 30, random);
    for (int card = 0; card < 3; ++card) {  // cards with borders and text
        const int top = 100 + card * 150;
        painter.gray(230, top, 500, 120, 210);
        painter.gray(231, top + 1, 498, 118, 255);
        painter.fill(231, top + 1, 498, 24, 225, 235, 250);  // card header
        painter.text(245, top + 34, 460, 4, random);
    }
    painter.gray(230, 560, 510, 26, 232);  // table header
    painter.gray(230, 586, 510, 1, 180);
    for (int row = 0; row < 8; ++row) {
        painter.gray(230, 587 + row * 22, 510, 1, 226);
        painter.text(240, 590 + row * 22, 480, 1, random);
    }
    return painter.image();
}

void visualAnalysis(benchmark::State& state) {
    const scene::Image image = busyWindow();
    scene::VisualEdgeTracker tracker;
    std::size_t edges = 0;
    for (auto _ : state) {
        const auto gray = scene::visualGrayPixels(image);
        const auto found = scene::detectVisualEdges(gray->pixels, gray->width, gray->height, kSide, kSide);
        const auto tracks = tracker.update(found);
        edges = found.size();
        benchmark::DoNotOptimize(tracks);
    }
    state.counters["edges"] = static_cast<double>(edges);
}

void visualEdgeDetector(benchmark::State& state) {
    const auto gray = scene::visualGrayPixels(busyWindow());
    for (auto _ : state) {
        auto edges = scene::detectVisualEdges(gray->pixels, gray->width, gray->height, kSide, kSide);
        benchmark::DoNotOptimize(edges);
    }
}

void visualGrayPixels(benchmark::State& state) {
    const scene::Image image = busyWindow();
    for (auto _ : state) {
        auto gray = scene::visualGrayPixels(image);
        benchmark::DoNotOptimize(gray);
    }
}

BENCHMARK(visualAnalysis)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(visualEdgeDetector)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(visualGrayPixels)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
