#include "capture_access/native_capture_access.h"

#include <algorithm>

namespace scene {
namespace {

constexpr std::string_view kOnceArgument = "--once";
constexpr std::string_view kAllowCaptureArgument = "--allow-screen-capture";
constexpr std::string_view kLiveCaptureVariable = "VANTU_LIVE_CAPTURE";
constexpr std::string_view kLiveCaptureOn = "1";

bool hasArgument(const Arguments& arguments, std::string_view wanted) {
    // Argument 0 is the program path, never an option.
    return arguments.size() > 1 && std::find(arguments.begin() + 1, arguments.end(), wanted) != arguments.end();
}

}  // namespace

NativeCaptureAccess::NativeCaptureAccess(const Arguments& arguments, const Environment& environment)
    : circuit(CaptureCircuit::resolvePath(arguments, environment)), enabled(resolveEnabled(arguments, environment)) {}

bool NativeCaptureAccess::resolveEnabled(const Arguments& arguments, const Environment& environment) {
    // A one-shot run installs no hooks, so it must never claim capture, even
    // when the companion also passed the allow flag.
    if (hasArgument(arguments, kOnceArgument)) return false;
    if (hasArgument(arguments, kAllowCaptureArgument)) return true;
    const auto it = environment.find(kLiveCaptureVariable);
    return it != environment.end() && it->second == kLiveCaptureOn;
}

std::string NativeCaptureAccess::status() const {
    if (!enabled) return std::string(capture_access_text::kCaptureDisabled);
    // Enabled runs always have hooks; should one be missing, report the
    // stream as not ready rather than invent a state.
    if (!selectedStatus) return std::string(capture_access_text::kCapturePaused);
    return selectedStatus();
}

bool NativeCaptureAccess::available() const {
    if (!selectedAvailable) return false;
    return enabled && !paused && selectedAvailable();
}

void NativeCaptureAccess::setPaused(bool newValue) { paused = newValue; }

}  // namespace scene
