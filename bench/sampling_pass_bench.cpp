// One whole sampling pass (window list, records, front application and focus,
// samplers, snapshot composition and serialisation to a line) on simulated
// desktops of 40 and 1024 windows.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "core/scene_sampler.h"
#include "platform/manual_runtime.h"
#include "platform/simulated/demo_scene.h"
#include "platform/simulated/scene_loader.h"
#include "platform/simulated/simulated_platform.h"

namespace {

using scene::Json;

// A desktop of `count` overlapping application windows from eight
// applications, a Dock shelf and a menu bar.
std::string desktopWithWindows(int count) {
    Json applications = Json::array({{{"pid", 50}, {"bundleId", "com.apple.dock"}}});
    for (int app = 0; app < 8; ++app)
        applications.push_back({{"pid", 100 + app}, {"bundleId", "com.example.app" + std::to_string(app)}});
    Json windows = Json::array();
    windows.push_back({{"pid", 40}, {"number", 1}, {"layer", 24}, {"bounds", {0, 0, 1440, 24}}});
    for (int i = 0; i < count - 2; ++i) {
        windows.push_back({{"pid", 100 + i % 8},
                           {"number", 1000 + i},
                           {"bounds", {(i * 37) % 900, 30 + (i * 23) % 500, 300 + i % 200, 200 + i % 150}},
                           {"titleBar", 28}});
    }
    windows.push_back({{"pid", 50}, {"number", 2}, {"layer", 20}, {"bounds", {220, 822, 1000, 70}}});
    return Json{{"format", 1},
                {"displays", Json::array({{{"id", 1}, {"bounds", {0, 0, 1440, 900}}}})},
                {"applications", applications},
                {"frontmost", 100},
                {"windows", windows}}
        .dump();
}

// A continuous run on a desktop of `windows` windows: capture hooks installed,
// the timer armed but never due, one pass made so that later ones are steady.
struct RunningSampler {
    explicit RunningSampler(int windows)
        : loaded(scene::simulated::loadScene(desktopWithWindows(windows), "bench.json", runtime,
                                             {4242, [] { return 1; }})) {
        if (!loaded.platform) return;
        sampler = std::make_unique<scene::SceneSampler>(scene::Arguments{"scene-sampler"}, scene::Environment{},
                                                        *loaded.platform, runtime);
        sampler->start();
        sampler->sample();
    }

    scene::ManualRuntime runtime;
    scene::simulated::LoadResult loaded;
    std::unique_ptr<scene::SceneSampler> sampler;
};

void samplingPass(benchmark::State& state) {
    RunningSampler running(static_cast<int>(state.range(0)));
    if (!running.sampler) {
        state.SkipWithError(running.loaded.error.c_str());
        return;
    }
    std::size_t bytes = 0;
    for (auto _ : state) {
        running.sampler->sample();
        auto lines = running.runtime.streams().takeLines();
        bytes += lines.front().size();
        benchmark::DoNotOptimize(lines);
    }
    state.counters["lineBytes"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}

// The same, with one window dragged a point between passes: the window list
// is new every pass, so the records are built and their text written anew.
void samplingPassWhileDragging(benchmark::State& state) {
    RunningSampler running(static_cast<int>(state.range(0)));
    if (!running.sampler) {
        state.SkipWithError(running.loaded.error.c_str());
        return;
    }
    int x = 0;
    for (auto _ : state) {
        state.PauseTiming();
        x = (x + 1) % 200;
        running.loaded.platform->apply(Json{{"do", "move-window"}, {"window", "100:1000"}, {"to", {x, 40}}});
        // The simulated window server makes its new list on first request;
        // that is the platform's work, not the pass's.
        running.loaded.platform->windowServer().copyWindowList();
        state.ResumeTiming();
        running.sampler->sample();
        benchmark::DoNotOptimize(running.runtime.streams().takeLines());
    }
}

// The built-in demo desktop: what the process does thirty times a second.
void demoPass(benchmark::State& state) {
    scene::ManualRuntime runtime;
    auto loaded =
        scene::simulated::loadScene(scene::simulated::demoSceneText(), "demo.json", runtime, {4242, [] { return 1; }});
    scene::SceneSampler sampler({"scene-sampler"}, {}, *loaded.platform, runtime);
    sampler.start();
    sampler.sample();
    for (auto _ : state) {
        sampler.sample();
        benchmark::DoNotOptimize(runtime.streams().takeLines());
    }
}
BENCHMARK(demoPass)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

BENCHMARK(samplingPass)->Arg(40)->Arg(1024)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(samplingPassWhileDragging)
    ->Arg(40)
    ->Arg(1024)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
