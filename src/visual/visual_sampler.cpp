#include "visual/visual_sampler.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "capture_access/native_capture_access.h"
#include "platform/json_read.h"

namespace scene {
namespace {

constexpr const char* kOff = "off";
constexpr const char* kUnsupportedOS = "unsupported-os";
constexpr const char* kWaiting = "waiting";
constexpr const char* kScanning = "scanning";
constexpr const char* kStale = "stale";

constexpr const char* kIdKey = "id";
constexpr const char* kWidthKey = "width";
constexpr const char* kHeightKey = "height";

// Smaller windows hold too few edges worth standing on to pay for a capture.
constexpr double kMinimumWidth = 140;
constexpr double kMinimumHeight = 160;
constexpr double kResultLifetime = 0.7;
constexpr double kOccupiedInterval = 0.2;
constexpr double kIdleInterval = 0.5;

// The window number is the last non-empty ":"-piece of a window id; without
// one the window cannot be found in the stream's frame.
bool hasWindowNumber(std::string_view id) {
    std::string_view last;
    while (!id.empty()) {
        const auto colon = id.find(':');
        const std::string_view piece = id.substr(0, colon);
        if (!piece.empty()) last = piece;
        if (colon == std::string_view::npos) break;
        id.remove_prefix(colon + 1);
    }
    if (last.empty() || !std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    std::uint32_t number = 0;
    const auto result = std::from_chars(last.data(), last.data() + last.size(), number);
    return result.ec == std::errc() && result.ptr == last.data() + last.size();
}

// Sizes enter the watch key as whole points, so sub-point jitter keeps the
// window's analysis history.
std::string truncatedText(double value) {
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::trunc(value), std::chars_format::fixed, 0);
    return std::string(buffer, result.ptr);
}

}  // namespace

VisualSampler::VisualSampler(Runtime& runtime, NativeCaptureAccess& capture, SystemVersion system)
    : queue(runtime.makeSerialQueue("scene.visual")), runtime_(runtime), capture_(capture), system_(system) {}

void VisualSampler::reset(const std::string& status) {
    generation += 1;
    latest.clear();
    latestAt = 0;
    lastKey.clear();
    this->status = status;
    backoff = 1.0;
    // The tracker's reset is queued here, behind any analysis in flight.
}

void VisualSampler::sample(const std::optional<Json>& window, const std::string& key, bool enabled, bool occupied) {
    const double now = runtime_.clock().uptime();
    if (!enabled) {
        if (status != kOff) reset(kOff);
        return;
    }
    if (!system_.atLeast(14, 0)) {
        status = kUnsupportedOS;
        latest.clear();
        return;
    }
    // Every pass while the stream is away starts over, so nothing captured
    // before the outage can be published after it.
    if (!capture_.available()) {
        reset(capture_.status());
        return;
    }

    std::optional<std::string> id;
    std::optional<double> width;
    std::optional<double> height;
    if (window) {
        id = json_read::string(*window, kIdKey);
        width = json_read::looseDouble(*window, kWidthKey);
        height = json_read::looseDouble(*window, kHeightKey);
    }
    if (!id || !width || !height || *width < kMinimumWidth || *height < kMinimumHeight || !hasWindowNumber(*id)) {
        if (status != kWaiting) reset(kWaiting);
        return;
    }

    const std::string watched = key + ":" + *id + ":" + truncatedText(*width) + "x" + truncatedText(*height);
    if (watched != lastKey) {
        reset(kScanning);
        lastKey = watched;
        lastStarted = 0;  // a new window is captured at once
    }

    if (latestAt > 0 && now - latestAt > kResultLifetime) {
        latest.clear();
        status = kStale;
    }

    if (busy) return;
    const double interval = occupied ? kOccupiedInterval : kIdleInterval;
    if (now - lastStarted < std::max(interval, backoff)) return;
    // The capture through the broker's selected-image hook, and the analysis
    // behind it, start here with the edge analysis.
}

VisualSampler::~VisualSampler() { queue.reset(); }

}  // namespace scene
