// One controls walk over a window whose accessibility tree has 1000 elements,
// on the simulated desktop.
#include <benchmark/benchmark.h>

#include "accessibility/control_sampler.h"
#include "platform/manual_runtime.h"
#include "platform/simulated/scene_loader.h"
#include "platform/simulated/simulated_platform.h"

namespace {

using scene::Json;

// 40 toolbars of 24 buttons each (plus the toolbars and the window: 1001
// elements), laid out in rows so every button is visible and hit-testable.
std::string desktopWithTree() {
    Json toolbars = Json::array();
    for (int row = 0; row < 40; ++row) {
        Json buttons = Json::array();
        for (int column = 0; column < 24; ++column)
            buttons.push_back({{"role", "AXButton"}, {"frame", {4 + column * 60, 30 + row * 24, 56, 20}}});
        toolbars.push_back({{"role", "AXToolbar"}, {"frame", {0, 28 + row * 24, 1440, 24}}, {"children", buttons}});
    }
    Json window = {{"pid", 100},
                   {"number", 1},
                   {"bounds", {0, 0, 1440, 1000}},
                   {"ax", {{"children", toolbars}}}};
    return Json{{"format", 1},
                {"displays", Json::array({{{"id", 1}, {"bounds", {0, 0, 1440, 1000}}}})},
                {"applications", Json::array({{{"pid", 100}, {"bundleId", "com.example.editor"}}})},
                {"frontmost", 100},
                {"windows", Json::array({window})}}
        .dump();
}

void controlsWalk(benchmark::State& state) {
    scene::ManualRuntime runtime;
    auto loaded = scene::simulated::loadScene(desktopWithTree(), "walk.json", runtime, {4242, [] { return 1; }});
    if (!loaded.platform) {
        state.SkipWithError(loaded.error.c_str());
        return;
    }
    scene::ControlSampler sampler(*loaded.platform, runtime);
    const scene::Records windows = {
        {{"id", "100:1"}, {"pid", 100}, {"x", 0.0}, {"y", 0.0}, {"width", 1440.0}, {"height", 1000.0}}};
    std::size_t records = 0;
    for (auto _ : state) {
        const auto result = sampler.scan(100, windows, "1:100:100:1", std::nullopt, false);
        records = result.items.size();
        benchmark::DoNotOptimize(result);
    }
    state.counters["records"] = static_cast<double>(records);
}
BENCHMARK(controlsWalk)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
