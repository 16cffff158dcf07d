#include "selected_capture/selected_stream_configuration.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "selected_capture/selected_capture_words.h"

namespace scene {
namespace {

constexpr double kMaxSide = 4096;
constexpr double kMaxPixels = 8'000'000;
constexpr double kMinimumFrameInterval = 1.0 / 5;
constexpr int kQueueDepth = 3;

// Truncated toward zero; a side below two pixels (or one that is not a number
// at all) becomes a single pixel rather than an empty or undefined size.
int pixelSide(double points, double scale) {
    const double pixels = std::trunc(points * scale);
    if (!(pixels >= 2)) return 1;
    return static_cast<int>(std::min(pixels, kMaxSide));
}

}  // namespace

StreamConfiguration selectedStreamConfiguration(const Rect& bounds) {
    const double width = bounds.absWidth();
    const double height = bounds.absHeight();
    // Divisions by a zero extent give infinities, which `min` passes over.
    const double scale = std::min({1.0, kMaxSide / std::max(width, height), std::sqrt(kMaxPixels / (width * height))});

    StreamConfiguration configuration;
    configuration.width = pixelSide(width, scale);
    configuration.height = pixelSide(height, scale);
    configuration.pixelFormat = kPixelFormatBGRA;
    configuration.colorSpaceName = std::string(selected_words::kSRGBColorSpaceName);
    configuration.shouldBeOpaque = true;
    configuration.minimumFrameInterval = kMinimumFrameInterval;
    configuration.queueDepth = kQueueDepth;
    configuration.showsCursor = false;
    configuration.capturesAudio = false;
    return configuration;
}

}  // namespace scene
