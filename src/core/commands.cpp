// The command procedure: the command lines the reader cut, executed in order.
#include "core/commands.h"

#include <limits>

#include "core/decimal.h"
#include "core/scene_sampler.h"

namespace scene {

namespace commands {

std::optional<std::int32_t> passRate(std::string_view argument) {
    // A 64-bit integer, like the rest of the protocol's numbers: anything that
    // overflows it does not parse.
    const auto decimal = parseDecimal(argument);
    if (!decimal) return std::nullopt;
    const std::uint64_t limit = std::uint64_t{std::numeric_limits<std::int64_t>::max()} + (decimal->negative ? 1 : 0);
    if (decimal->magnitude > limit) return std::nullopt;
    if (decimal->negative || decimal->magnitude < 34) return kMinimumRate;
    if (decimal->magnitude >= static_cast<std::uint64_t>(kMaximumRate)) return kMaximumRate;
    return static_cast<std::int32_t>(decimal->magnitude);
}

}  // namespace commands

namespace {

constexpr const char* kWaiting = "waiting";
constexpr const char* kScanning = "scanning";
constexpr const char* kOff = "off";
constexpr const char* kSessionInactive = "session-inactive";

bool startsWith(std::string_view line, std::string_view prefix) { return line.substr(0, prefix.size()) == prefix; }

}  // namespace

void SceneSampler::executeLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        if (runtime_.exitRequested()) return;
        execute(line);
    }
}

void SceneSampler::execute(const std::string& line) {
    using namespace commands;
    if (line == kPause) {
        state.paused = true;
        if (selectedCaptureSupported_) session.setPaused(true);
        capture.setPaused(true);
        visualSampler.reset(kWaiting);
        selectedSupports.reset(kSessionInactive);
        supportSampler.reset(kSessionInactive);
        topSampler.reset(kSessionInactive);
    } else if (line == kCaptureSelect || line == kCaptureRetry) {
        if (selectedCaptureSupported_ && capture.enabled) session.select();
    } else if (line == kResume) {
        state.paused = false;
        capture.setPaused(false);
        state.sampleCount = 0;
        invalidateScene(false, 0.2);
        sample();
    } else if (line == kVisualOn) {
        state.visualEnabled = true;
        visualSampler.reset(kScanning);
    } else if (line == kVisualOff) {
        state.visualEnabled = false;
        visualSampler.reset(kOff);
    } else if (line == kInputsOn) {
        state.inputsEnabled = true;
        state.inputsAt = 0;
    } else if (line == kInputsOff) {
        state.inputsEnabled = false;
        state.inputControls.clear();
        state.inputsAt = 0;
    } else if (line == kControlsOn) {
        state.controlsEnabled = true;
        state.controlsAt = 0;
        state.observedPID = 0;
    } else if (line == kControlsOff) {
        state.controlsEnabled = false;
        state.controls.clear();
        state.controlsStatus = kOff;
        removeFocusObserver();
        state.observedPID = 0;
    } else if (startsWith(line, kAnchorPrefix)) {
        state.anchorID = line.substr(kAnchorPrefix.size());
    } else if (startsWith(line, kRatePrefix)) {
        if (const auto rate = passRate(std::string_view(line).substr(kRatePrefix.size()))) setPassRate(*rate);
    } else if (startsWith(line, kCaptureSnapshotPrefix)) {
        stills.request(line.substr(kCaptureSnapshotPrefix.size()));
    } else if (line == kQuit) {
        runtime_.requestExit(0);
    }
}

}  // namespace scene
