// Scene text of any content: not JSON, JSON of the wrong shape, values at the
// edges of their types, keys and strings with control characters. Loading
// gives a desktop or exactly one line that names the file and the problem
// (the process writes it to standard error as it is, so it must stay one
// line). A desktop that loads must then run: its first half second of
// timeline, and a sampler's passes over it, each writing one JSON line.
//
// Input: the scene file's bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "core/scene_sampler.h"
#include "core/window_records.h"
#include "fuzz_inputs.h"
#include "platform/manual_runtime.h"
#include "platform/simulated/scene_loader.h"

namespace scene {
namespace {

using fuzz::require;

constexpr std::string_view kFileName = "fuzz.json";

void run(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ManualRuntime runtime;
    auto loaded = simulated::loadScene(text, kFileName, runtime, simulated::ProcessFacts{4242, [] { return 1; }});
    require((loaded.platform == nullptr) != loaded.error.empty(), "a desktop or an error, never both");
    if (!loaded.platform) {
        require(loaded.error.starts_with(std::string(kFileName) + ": "), "the error names the file");
        require(loaded.error.find_first_of("\n\r") == std::string::npos, "the error is one line");
        return;
    }

    const auto state = loaded.platform->model().windowList;
    const auto list = loaded.platform->windowServer().copyWindowList();
    if (state == simulated::WindowListState::available) {
        require(list && isWindowList(*list), "an available list is a list of dictionaries");
    } else if (state == simulated::WindowListState::unavailable) {
        require(!list, "an unavailable list is none");
    } else {
        require(list && !isWindowList(*list), "a malformed list is not a list of dictionaries");
    }

    auto sampler = std::make_unique<SceneSampler>(Arguments{"scene-sampler", "--controls", "--visual"}, Environment{},
                                                  *loaded.platform, runtime);
    sampler->sample();
    runtime.advance(0.5);
    sampler->sample();
    runtime.runUntilIdle();
    const auto lines = runtime.streams().takeLines();
    require(lines.size() == 2, "one line per pass");
    for (const std::string& line : lines) require(fuzz::parseLine(line).is_object(), "every line is a JSON object");
}

}  // namespace
}  // namespace scene

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    scene::run(data, size);
    return 0;
}
