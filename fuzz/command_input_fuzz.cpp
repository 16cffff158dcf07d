// Standard input as a companion's pipe may deliver it: any bytes, cut into
// chunks anywhere (inside characters, between a carriage return and its line
// feed, inside lines far past the buffer's limit), read by a whole sampler on
// the simulated desktop in virtual time. The reader decodes every chunk and the
// command procedure executes the lines; afterwards the sampler's state must be
// what a plain reading of the decoded text says, and every line it wrote must
// be JSON.
//
// Input: the first byte picks the setting (bit 0: a system without selected
// capture; bit 1: started with "--visual --controls"). Then steps, each
// introduced by one byte L:
//   L < 0xFE  a chunk of the next L bytes;
//   L = 0xFE  end of input;
//   L = 0xFF  a long chunk: two bytes N (big-endian) and one byte P, then
//             P % 16 + 1 pattern bytes, repeated to 2 * N bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/command_buffer.h"
#include "core/commands.h"
#include "core/input_decoder.h"
#include "core/scene_sampler.h"
#include "fuzz_inputs.h"
#include "platform/manual_runtime.h"
#include "platform/simulated/scene_loader.h"

namespace scene {
namespace {

using fuzz::require;

constexpr std::uint8_t kEndInput = 0xFE;
constexpr std::uint8_t kLongChunk = 0xFF;

// A small desktop: every command has something to act on, and a pass stays
// cheap, so inputs full of "resume" lines do not crawl.
constexpr std::string_view kDesktop = R"({
  "format": 1,
  "system": {"version": "%VERSION%"},
  "applications": [{"pid": 100, "bundleId": "com.example.editor"}],
  "frontmost": 100,
  "windows": [{"pid": 100, "number": 7, "bounds": [100, 100, 600, 400], "titleBar": 28,
               "ax": {"children": [{"role": "AXButton", "frame": [10, 40, 80, 24]}]}}]
})";

struct Step {
    bool endInput = false;
    std::string bytes;
};

std::vector<Step> readSteps(const std::uint8_t* data, std::size_t size) {
    std::vector<Step> steps;
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t kind = data[i++];
        if (kind == kEndInput) {
            steps.push_back({true, {}});
        } else if (kind == kLongChunk) {
            if (i + 3 > size) break;
            const std::size_t length = 2 * (std::size_t{data[i]} << 8 | data[i + 1]);
            const std::size_t patternLength = std::min<std::size_t>(data[i + 2] % 16 + 1, size - (i + 3));
            const std::string_view pattern(reinterpret_cast<const char*>(data + i + 3), patternLength);
            i += 3 + patternLength;
            if (pattern.empty()) break;
            Step step;
            step.bytes.reserve(length);
            while (step.bytes.size() < length) step.bytes.append(pattern.substr(0, length - step.bytes.size()));
            steps.push_back(std::move(step));
        } else {
            const std::size_t length = std::min<std::size_t>(kind, size - i);
            steps.push_back({false, std::string(reinterpret_cast<const char*>(data + i), length)});
            i += length;
        }
    }
    return steps;
}

// What the commands must have done, worked out from the decoded text alone:
// one byte at a time, a line ends at a line feed that does not follow a
// carriage return, and an unfinished line longer than the buffer's limit at
// the end of a chunk is thrown away up to its line end. The incremental
// buffer has to agree with this plain reading.
class CommandModel {
public:
    CommandModel(bool visual, bool controls) : visualEnabled(visual), controlsEnabled(controls) {}

    void receive(std::string_view text) {
        for (const char byte : text) {
            if (quit) return;
            const bool endsLine = byte == '\n' && !afterCarriageReturn_;
            afterCarriageReturn_ = byte == '\r';
            if (discarding_) {
                discarding_ = !endsLine;
            } else if (endsLine) {
                execute(pending_);
                pending_.clear();
            } else {
                pending_.push_back(byte);
            }
        }
        if (!quit && pending_.size() > CommandBuffer::kDefaultLimit) {
            pending_.clear();
            discarding_ = true;
        }
    }

    bool paused = false;
    bool visualEnabled;
    bool controlsEnabled;
    bool inputsEnabled = false;
    std::optional<std::string> anchorID;
    bool quit = false;
    std::size_t resumes = 0;

private:
    void execute(const std::string& line) {
        using namespace commands;
        if (line == kPause) paused = true;
        if (line == kResume) {
            paused = false;
            ++resumes;
        }
        if (line == kVisualOn) visualEnabled = true;
        if (line == kVisualOff) visualEnabled = false;
        if (line == kInputsOn) inputsEnabled = true;
        if (line == kInputsOff) inputsEnabled = false;
        if (line == kControlsOn) controlsEnabled = true;
        if (line == kControlsOff) controlsEnabled = false;
        if (line.starts_with(kAnchorPrefix)) anchorID = line.substr(kAnchorPrefix.size());
        if (line == kQuit) quit = true;
    }

    std::string pending_;
    bool discarding_ = false;
    bool afterCarriageReturn_ = false;
};

void run(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    const bool oldSystem = (data[0] & 1) != 0;
    const bool optionsOn = (data[0] & 2) != 0;
    const std::vector<Step> steps = readSteps(data + 1, size - 1);

    std::string text(kDesktop);
    text.replace(text.find("%VERSION%"), 9, oldSystem ? "13.6" : "14.5");
    ManualRuntime runtime;
    auto loaded = simulated::loadScene(text, "fuzz.json", runtime, simulated::ProcessFacts{4242, [] { return 1; }});
    require(loaded.platform != nullptr, "the fuzz desktop loads");
    Arguments arguments{"scene-sampler"};
    if (optionsOn) arguments.insert(arguments.end(), {"--visual", "--controls"});
    auto sampler = std::make_unique<SceneSampler>(arguments, Environment{}, *loaded.platform, runtime);
    sampler->start();
    runtime.runUntilIdle();

    // The reader's decoder is private to the sampler; a twin fed the same chunks
    // yields the text the command procedure received.
    InputDecoder decoder;
    CommandModel model(optionsOn, optionsOn);
    std::string delivered;  // every byte fed, while the input was still read
    std::string decoded;    // every text the decoder let through
    bool ended = false;
    for (const Step& step : steps) {
        if (ended || model.quit) break;
        if (step.endInput) {
            runtime.streams().endInput();
            ended = true;
        } else if (!step.bytes.empty()) {
            runtime.streams().feed(step.bytes);
            delivered += step.bytes;
            if (const auto out = decoder.decode(step.bytes)) {
                require(fuzz::isWellFormedUTF8(*out), "decoded text is well-formed UTF-8");
                decoded += *out;
                model.receive(*out);
            }
        }
        runtime.runUntilIdle();
    }
    // Chunks may split characters anywhere; text that was valid as a whole
    // comes through whole.
    if (fuzz::isWellFormedUTF8(delivered)) require(decoded == delivered, "valid text survives any chunking");

    const ProcessState& state = sampler->state;
    require(state.paused == model.paused, "pause and resume");
    require(state.visualEnabled == model.visualEnabled, "visual-on and visual-off");
    require(state.inputsEnabled == model.inputsEnabled, "inputs-on and inputs-off");
    require(state.controlsEnabled == model.controlsEnabled, "controls-on and controls-off");
    require(state.anchorID == model.anchorID, "anchor");
    require(runtime.exitRequested() == (model.quit || ended), "the process ends on quit or end of input only");
    if (runtime.exitRequested()) require(runtime.exitStatus() == 0, "ordinary endings exit with status 0");

    // A few ticks at whatever rate the commands left behind.
    if (!runtime.exitRequested()) runtime.advance(0.1);

    std::size_t snapshots = 0;
    for (const std::string& line : runtime.streams().lines()) {
        const auto parsed = fuzz::parseLine(line);
        require(parsed.is_object(), "every line written is a JSON object");
        if (!parsed.contains("kind")) ++snapshots;
    }
    // The first tick and every "resume" each write one snapshot line.
    require(snapshots >= 1 + model.resumes, "a pass per resume");
}

}  // namespace
}  // namespace scene

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    scene::run(data, size);
    return 0;
}
