#include "selected_capture/selected_capture_health.h"

#include <cmath>

#include "selected_capture/selected_capture_words.h"

namespace scene {

void SelectedCaptureHealth::begin(double now) {
    began = now;
    lastFrame.reset();
    healthySince.reset();
}

void SelectedCaptureHealth::observe(double now) {
    // A clock that went backwards or a long gap starts a new healthy run.
    if (!lastFrame || now < *lastFrame || now - *lastFrame > kGapLimit) {
        healthySince = now;
        lastFrame = now;
        return;
    }
    lastFrame = now;
    if (!healthySince) return;
    if (now - *healthySince >= kHealthyReset) attempts = 0;
}

SelectedCaptureHealth::Action SelectedCaptureHealth::action(double now, bool eligible) {
    if (!eligible) {
        begin(now);
        return Action::wait;
    }
    const double reference = lastFrame.value_or(began);
    if (now < reference) {
        begin(now);
        return Action::wait;
    }
    if (now - reference < kStallLimit) return Action::wait;
    return attempts < kAttemptLimit ? Action::replace : Action::exhausted;
}

bool selectedFrameIsFresh(double observed, std::uint64_t frameGeneration, std::uint64_t generation, double now,
                          bool paused, bool selecting) {
    return frameGeneration == generation && !paused && !selecting && std::isfinite(observed) && std::isfinite(now) &&
           observed <= now && now - observed < SelectedCaptureHealth::kFreshLimit;
}

std::string selectedFailureState(std::string_view domain, long code) {
    using namespace selected_words;
    if (domain != kStreamErrorDomain) return std::string(kFailed);
    switch (code) {
        case kUserStoppedCode:
            return std::string(kStopped);
        case kInterruptedCode:
            return std::string(kInterrupted);
        case kDeclinedCode:
            return std::string(kRejected);
        default:
            return std::string(kFailed);
    }
}

bool selectedConnectionWasLost(std::string_view domain, long code) {
    using namespace selected_words;
    return domain == kStreamErrorDomain && (code == kConnectionInvalidCode || code == kConnectionInterruptedCode);
}

}  // namespace scene
