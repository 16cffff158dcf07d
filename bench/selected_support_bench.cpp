// One selected support analysis as the sampler runs it on its queue: a frame of
// a 1885.5 x 1060.5-point display at 2 pixels per point (3771 x 2121), showing
// 40 overlapping application windows and a Dock shelf, checked against 192
// proposals. The history holds the previous frame's result, so every run is
// also confirmed. Targets: 4 ms per analysis, gray conversion of at most 5 % of
// the frame's pixels (`convertedPercent`; `grayPercent` is the tiles' share).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/image.h"
#include "platform/records.h"
#include "platform/simulated/frame_renderer.h"
#include "selected_support/selected_contours.h"
#include "selected_support/selected_support_analysis.h"
#include "support/composed_support_tiles.h"

namespace {

constexpr int kPixelWidth = 3771;
constexpr int kPixelHeight = 2121;
const scene::Rect kDisplay{0, 0, 1885.5, 1060.5};
constexpr std::size_t kProposalCount = 192;
constexpr int kWindowCount = 40;
constexpr double kTitleBar = 28;
constexpr double kMenuBar = 25;
const scene::Rect kDock{492.5, 990.5, 900, 66};
// Frames arrive this far apart; the history's lifetime is longer.
constexpr double kFrameInterval = 0.2;

struct Desktop {
    scene::simulated::FrameScene scene;
    scene::Records windows;  // front to back, as the window server lists them
    scene::Records docks;
};

scene::Json record(const std::string& id, const scene::Rect& bounds) {
    return scene::Json{
        {"id", id}, {"x", bounds.x}, {"y", bounds.y}, {"width", bounds.width}, {"height", bounds.height}};
}

// Half-point steps, so that some edges land on odd pixels.
double halfPoints(std::mt19937& random, double low, double high) {
    std::uniform_int_distribution<int> steps(0, static_cast<int>((high - low) * 2));
    return low + steps(random) / 2.0;
}

// A window with a title bar, a toolbar rule, a sidebar and a bordered card, so
// that the frame has lines that are not outlines as well.
scene::simulated::FrameWindow applicationWindow(const scene::Rect& bounds, std::mt19937& random) {
    constexpr scene::simulated::Color kFills[] = {0xf4f4f4, 0xfafafa, 0xeceff3, 0xf6f2ea, 0xffffff};
    std::uniform_int_distribution<std::size_t> fill(0, std::size(kFills) - 1);
    scene::simulated::FrameWindow window{.bounds = bounds, .fill = kFills[fill(random)], .titleBar = kTitleBar};
    const double width = bounds.width;
    const double height = bounds.height;
    if (height > 110) window.panels.push_back({scene::Rect{0, kTitleBar + 30, width, 1}, 0xc8c8c8, std::nullopt});
    if (width > 320 && height > 140) {
        const double sidebar = std::min(200.0, width / 4);
        window.panels.push_back({scene::Rect{0, kTitleBar + 31, sidebar, height - kTitleBar - 31}, 0xe6e8ee, 0xd0d0d0});
        window.panels.push_back(
            {scene::Rect{sidebar + 20, kTitleBar + 50, width - sidebar - 40, std::min(120.0, height - kTitleBar - 70)},
             0xffffff, 0xd2d2d2});
    }
    return window;
}

Desktop desktop() {
    Desktop desktop{.scene = {.display = kDisplay, .windows = {}}, .windows = {}, .docks = {}};
    std::mt19937 random(20240611);
    std::vector<scene::Json> backToFront;
    for (int n = 0; n < kWindowCount; ++n) {
        const double width = halfPoints(random, 180, 760);
        const double height = halfPoints(random, 80, 520);
        const double x = halfPoints(random, 0, kDisplay.width - width);
        const double y = halfPoints(random, kMenuBar, kDock.y - 10 - height);
        const scene::Rect bounds{x, y, width, height};
        desktop.scene.windows.push_back(applicationWindow(bounds, random));
        scene::Json window = record("w" + std::to_string(n + 1), bounds);
        window["layer"] = 0;
        backToFront.push_back(std::move(window));
    }
    desktop.windows.assign(backToFront.rbegin(), backToFront.rend());

    // The Dock in front of everything: a shelf line a few points below its top
    // and icons standing on it.
    scene::simulated::FrameWindow dock{.bounds = kDock, .fill = 0xd8dde6, .border = 0x8a8f99};
    dock.panels.push_back({scene::Rect{0, 7, kDock.width, 1}, 0x5d636d, std::nullopt});
    for (double x = 16; x + 48 < kDock.width; x += 58)
        dock.panels.push_back({scene::Rect{x, 12, 48, 48}, 0x7fa6d9, 0x4a6a94});
    desktop.scene.windows.push_back(std::move(dock));
    desktop.docks.push_back(record("dock:1", kDock));
    return desktop;
}

scene::Image render(const scene::simulated::FrameScene& scene) {
    const std::size_t stride = static_cast<std::size_t>(kPixelWidth) * 4;
    std::vector<std::uint8_t> bytes(stride * kPixelHeight);
    scene::simulated::renderFrame(scene, kPixelWidth, kPixelHeight, bytes.data(), stride);
    return scene::Image(kPixelWidth, kPixelHeight, stride, std::move(bytes));
}

// Visual edges on the title-bar rules of the frontmost windows, as many as it
// takes to bring the proposals up to the sampler's limit.
scene::Records titleBarEdges(const scene::Records& windows, std::size_t count) {
    scene::Records visuals;
    for (const scene::Json& window : windows) {
        if (visuals.size() == count) break;
        const double x = window["x"].get<double>();
        const double y = window["y"].get<double>();
        const double width = window["width"].get<double>();
        scene::Json edge =
            record("edge:" + window["id"].get<std::string>(), scene::Rect{x + 12, y + kTitleBar, width - 24, 1});
        edge["windowId"] = window["id"];
        edge["sampleTolerance"] = 4;
        visuals.push_back(std::move(edge));
    }
    return visuals;
}

std::vector<scene::SupportProposal> proposals(const Desktop& desktop) {
    auto found = scene::selectedContourProposals(desktop.windows, desktop.docks, {});
    if (found.size() < kProposalCount) {
        const auto visuals = titleBarEdges(desktop.windows, kProposalCount - found.size());
        found = scene::selectedContourProposals(desktop.windows, desktop.docks, visuals);
    }
    if (found.size() > kProposalCount) found.resize(kProposalCount);
    return found;
}

void selectedSupportAnalysis(benchmark::State& state) {
    const Desktop shown = desktop();
    const auto candidates = proposals(shown);
    const std::unordered_set<std::string> dockOwners{"dock:1"};
    scene::SelectedFrame frame{render(shown.scene), kDisplay, 1, 100};
    scene::SupportHistory history;
    // The first frame has nothing to confirm against; it only fills the history.
    scene::analyseSelectedFrame(frame, candidates, dockOwners, history, 1.7e12, frame.observed);

    scene::SelectedSupportAnalysis analysis;
    for (auto _ : state) {
        frame.observed += kFrameInterval;
        analysis = scene::analyseSelectedFrame(frame, candidates, dockOwners, history, 1.7e12 + frame.observed * 1000,
                                               frame.observed + 0.01);
        benchmark::DoNotOptimize(analysis);
    }
    const double framePixels = static_cast<double>(kPixelWidth) * kPixelHeight;
    // The pixels the run finder must read at the least: the union of the
    // proposals' own bands, however they are grouped into tiles.
    std::vector<std::uint8_t> read(static_cast<std::size_t>(kPixelWidth) * kPixelHeight);
    for (const scene::SupportProposal& proposal : candidates) {
        const auto band = scene::composedSupportPixels(kDisplay, kPixelWidth, kPixelHeight, {&proposal, 1});
        if (!band) continue;
        for (auto y = static_cast<std::size_t>(band->y); y < static_cast<std::size_t>(band->maxY()); ++y) {
            std::fill_n(read.begin() + static_cast<std::ptrdiff_t>(y * kPixelWidth + static_cast<std::size_t>(band->x)),
                        static_cast<std::ptrdiff_t>(band->width), std::uint8_t{1});
        }
    }
    state.counters["bandPercent"] = 100.0 * static_cast<double>(std::count(read.begin(), read.end(), 1)) / framePixels;
    state.counters["proposals"] = static_cast<double>(candidates.size());
    state.counters["grayPixels"] = analysis.grayPixels;
    state.counters["grayPercent"] = 100.0 * analysis.grayPixels / framePixels;
    state.counters["convertedPercent"] = 100.0 * static_cast<double>(analysis.convertedPixels) / framePixels;
    state.counters["tiles"] = analysis.grayRegions;
    state.counters["candidates"] = analysis.candidateCount;
    state.counters["records"] = static_cast<double>(analysis.records.size());
    state.counters["pairedOwners"] = analysis.pairedOwners;
    state.counters["rawRuns"] = analysis.rawRuns;
}
BENCHMARK(selectedSupportAnalysis)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
