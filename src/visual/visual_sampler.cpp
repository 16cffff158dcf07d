#include "visual/visual_sampler.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <utility>

#include "capture_access/native_capture_access.h"
#include "platform/json_read.h"
#include "platform/rect.h"
#include "visual/visual_analysis_cpu_time.h"
#include "visual/visual_edge_detector.h"
#include "visual/visual_gray_pixels.h"

namespace scene {
namespace {

constexpr const char* kOff = "off";
constexpr const char* kUnsupportedOS = "unsupported-os";
constexpr const char* kWaiting = "waiting";
constexpr const char* kScanning = "scanning";
constexpr const char* kStale = "stale";
constexpr const char* kUnavailable = "unavailable";
constexpr const char* kReady = "ready";
constexpr const char* kBudgetLimited = "budget-limited";

constexpr const char* kIdKey = "id";
constexpr const char* kWidthKey = "width";
constexpr const char* kHeightKey = "height";
constexpr const char* kXKey = "x";
constexpr const char* kYKey = "y";
constexpr const char* kPidKey = "pid";
constexpr const char* kWindowIdKey = "windowId";
constexpr const char* kClipKey = "clip";
constexpr const char* kWindowBoundsKey = "windowBounds";
constexpr const char* kConfidenceKey = "confidence";
constexpr const char* kPlatformKey = "platform";
constexpr const char* kSampleToleranceKey = "sampleTolerance";
constexpr const char* kRecordIdPrefix = "visual:";

// Smaller windows hold too few edges worth standing on to pay for a capture.
constexpr double kMinimumWidth = 140;
constexpr double kMinimumHeight = 160;
constexpr double kResultLifetime = 0.7;
constexpr double kOccupiedInterval = 0.2;
constexpr double kIdleInterval = 0.5;
// Analysis beyond this much thread CPU time is withheld and slows capture
// down by one second per 25 ms.
constexpr double kBudgetMS = 25;
constexpr double kMaximumBackoff = 8;
constexpr double kFirstFailureBackoff = 2;
constexpr double kBudgetLimitedBackoff = 0.6;
constexpr double kEdgeHeight = 1.0;
constexpr double kConfidence = 0.9;
// Points per captured pixel, bounded: the support sampler searches this far
// around an edge, and a full-size capture still deserves some slack.
constexpr double kMinimumSampleTolerance = 2;
constexpr double kMaximumSampleTolerance = 8;

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

struct PixelSize {
    int width = 1;
    int height = 1;
};

// The window at most 768 pixels on its longer side, never enlarged.
PixelSize requestedPixels(double width, double height) {
    const double scale = std::min(1.0, kVisualMaximumPixels / std::max(width, height));
    const auto side = [scale](double points) { return std::max(1, static_cast<int>(std::round(points * scale))); };
    return {side(width), side(height)};
}

Records visualRecords(const std::vector<VisualTrack>& tracks, const Json& window, int imageHeight) {
    const std::string windowId = json_read::string(window, kIdKey).value_or("");
    const double x = json_read::looseDouble(window, kXKey).value_or(0);
    const double y = json_read::looseDouble(window, kYKey).value_or(0);
    const double width = json_read::looseDouble(window, kWidthKey).value_or(0);
    const double height = json_read::looseDouble(window, kHeightKey).value_or(0);
    const Json* pid = json_read::member(window, kPidKey);
    const Json bounds = {{kXKey, x}, {kYKey, y}, {kWidthKey, width}, {kHeightKey, height}};
    const double tolerance = std::clamp(height / imageHeight, kMinimumSampleTolerance, kMaximumSampleTolerance);

    Records records;
    records.reserve(tracks.size());
    for (const VisualTrack& track : tracks) {
        records.push_back(Json{
            {kIdKey, kRecordIdPrefix + windowId + ":" + track.id},
            {kWindowIdKey, windowId},
            {kPidKey, pid ? *pid : Json(0)},
            {kXKey, track.edge.x + x},
            {kYKey, track.edge.y + y},
            {kWidthKey, track.edge.width},
            {kHeightKey, kEdgeHeight},
            {kClipKey, bounds},
            {kWindowBoundsKey, bounds},
            {kConfidenceKey, kConfidence},
            {kPlatformKey, track.edge.platform},
            {kSampleToleranceKey, tolerance},
        });
    }
    return records;
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
    // Queued behind any analysis in flight: that one still sees the old
    // tracks, and the next window's first analysis starts from none.
    queue->post([this] { tracker.reset(); });
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

    busy = true;
    lastStarted = now;
    Capture capture{generation, now, *window};
    if (!capture_.selectedImage) {
        // Cannot happen while the broker reports itself available; failing
        // keeps `busy` from sticking if it ever does.
        fail();
        return;
    }
    const Rect rect{json_read::looseDouble(*window, kXKey).value_or(0),
                    json_read::looseDouble(*window, kYKey).value_or(0), *width, *height};
    const PixelSize pixels = requestedPixels(*width, *height);
    capture_.selectedImage(
        rect, pixels.width, pixels.height,
        [this, alive = std::weak_ptr<int>(alive_), capture = std::move(capture)](
            std::optional<Image> image, std::optional<PlatformError> error, std::optional<double> frameTime) {
            if (alive.expired()) return;
            finish(capture, std::move(image), error, frameTime);
        });
}

void VisualSampler::finish(const Capture& capture, std::optional<Image> image,
                           const std::optional<PlatformError>& error, std::optional<double> frameTime) {
    if (generation != capture.generation) {
        busy = false;
        return;
    }
    if (!image || error || !capture_.selectedImage) {
        fail();
        return;
    }
    const double now = runtime_.clock().uptime();
    captureMS = (now - capture.started) * 1000;
    // Ages count from when the stream saw the pixels, not from when we asked.
    const double observed = frameTime.value_or(capture.started);
    if (now - observed >= kResultLifetime) {
        busy = false;
        latest.clear();
        status = kStale;
        return;
    }
    analyse(capture, *image, observed);
}

void VisualSampler::fail() {
    busy = false;
    latest.clear();
    status = kUnavailable;
    queue->post([this] { tracker.reset(); });
    backoff = std::min(kMaximumBackoff, std::max(kFirstFailureBackoff, 2 * backoff));
}

void VisualSampler::analyse(const Capture& capture, const Image& image, double observed) {
    queue->post([this, alive = std::weak_ptr<int>(alive_), capture, image, observed] {
        const Clock& clock = runtime_.clock();
        const double before = visualAnalysisCPUTime(clock);
        const std::optional<GrayBuffer> gray = visualGrayPixels(image);
        std::vector<VisualEdge> edges;
        if (gray) {
            edges = detectVisualEdges(gray->pixels, gray->width, gray->height,
                                      json_read::looseDouble(capture.window, kWidthKey).value_or(0),
                                      json_read::looseDouble(capture.window, kHeightKey).value_or(0));
        }
        const std::vector<VisualTrack> tracks = tracker.update(edges);
        const double after = visualAnalysisCPUTime(clock);
        Records records = visualRecords(tracks, capture.window, image.height());
        runtime_.mainQueue().post([this, alive, generation = capture.generation, records = std::move(records),
                                   milliseconds = (after - before) * 1000, converted = gray.has_value(), observed] {
            if (alive.expired()) return;
            publish(generation, std::move(records), milliseconds, converted, observed);
        });
    });
}

void VisualSampler::publish(std::int64_t startedGeneration, Records records, double milliseconds, bool converted,
                            double observed) {
    busy = false;
    if (generation != startedGeneration) return;
    if (runtime_.clock().uptime() - observed >= kResultLifetime) {
        latest.clear();
        status = kUnavailable;
        return;
    }
    latestAt = observed;
    analysisMS = milliseconds;
    status = converted ? kReady : kUnavailable;
    if (milliseconds > kBudgetMS) {
        backoff = std::min(kMaximumBackoff, milliseconds / kBudgetMS);
        latest.clear();
    } else {
        backoff = 0;
        latest = std::move(records);
    }
    if (backoff > kBudgetLimitedBackoff) status = kBudgetLimited;
}

VisualSampler::~VisualSampler() { queue.reset(); }

}  // namespace scene
