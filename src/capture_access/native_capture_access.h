#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "capture_access/capture_circuit.h"
#include "platform/image.h"
#include "platform/platform_error.h"
#include "platform/process_environment.h"
#include "platform/rect.h"

namespace scene {

// Words and errors that the broker and the hooks installed on it hand out.
namespace capture_access_text {
inline constexpr std::string_view kCaptureDisabled = "capture-disabled";
inline constexpr std::string_view kCapturePaused = "capture-paused";
inline constexpr std::string_view kReady = "ready";
inline constexpr std::string_view kSelectionErrorDomain = "VantuSelection";
inline constexpr long kMissingCropCode = 1;
}  // namespace capture_access_text

// What `selectedImage` reports when the selected stream has no crop to give.
inline PlatformError missingCropError() {
    return {std::string(capture_access_text::kSelectionErrorDomain), capture_access_text::kMissingCropCode};
}

// Decides whether samplers may use screen pixels now and which capture status
// the snapshot reports. Pixels come only from the selected display stream,
// reached through the hooks the process entry installs; without hooks (one-shot
// runs) nothing is ever available. Owns the persisted pause state. One
// instance, owned by the process object; main queue only.
class NativeCaptureAccess {
public:
    // (image or none, error or none, observed uptime seconds or none)
    using ImageCompletion =
        std::function<void(std::optional<Image>, std::optional<PlatformError>, std::optional<double>)>;

    NativeCaptureAccess(const Arguments& arguments, const Environment& environment);
    NativeCaptureAccess(const NativeCaptureAccess&) = delete;
    NativeCaptureAccess& operator=(const NativeCaptureAccess&) = delete;

    // "capture-disabled" unless enabled; otherwise the selected stream's word.
    std::string status() const;
    // Pixels may be used now: hooks installed, enabled, not paused by the
    // companion, and the selected stream has a current frame.
    bool available() const;
    void setPaused(bool paused);

    CaptureCircuit circuit;
    const bool enabled;

    std::function<std::string()> selectedStatus;
    std::function<bool()> selectedAvailable;
    // Must call `completion` before returning.
    std::function<void(const Rect& rect, int width, int height, const ImageCompletion& completion)> selectedImage;

    bool paused = false;
    // Pixels are never read outside the selected stream; kept for the
    // companion's metrics, which still expect the counter.
    int directPixelRequests = 0;

private:
    static bool resolveEnabled(const Arguments& arguments, const Environment& environment);
};

}  // namespace scene
