#include "window_tops/window_top_sampler.h"

#include "capture_access/native_capture_access.h"

namespace scene {
namespace {

constexpr double kStorageLifetime = 1.5;

}  // namespace

WindowTopSampler::WindowTopSampler(const Clock& clock) : storage(clock, kStorageLifetime) {}

void WindowTopSampler::reset(const std::string& status) {
    generation += 1;
    storage.reset(status);
    this->status = status;
    pendingOwners.clear();
}

Records WindowTopSampler::fresh() const { return storage.fresh(); }

void WindowTopSampler::sample(const Records&, const Records&, const std::optional<std::string>&,
                              const NativeCaptureAccess& broker) {
    if (!broker.available()) reset(broker.status());
}

}  // namespace scene
