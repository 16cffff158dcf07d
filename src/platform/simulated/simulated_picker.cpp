#include "platform/simulated/simulated_picker.h"

#include <algorithm>

namespace scene::simulated {

void SimulatedPicker::addObserver(PickerObserver& observer) {
    std::lock_guard lock(mutex_);
    if (std::find(observers_.begin(), observers_.end(), &observer) == observers_.end()) observers_.push_back(&observer);
}

void SimulatedPicker::removeObserver(PickerObserver& observer) {
    std::lock_guard lock(mutex_);
    std::erase(observers_, &observer);
}

void SimulatedPicker::setConfiguration(const PickerConfiguration& configuration) {
    std::lock_guard lock(mutex_);
    configuration_ = configuration;
}

void SimulatedPicker::setActive(bool active) {
    std::lock_guard lock(mutex_);
    active_ = active;
}

void SimulatedPicker::presentForDisplayContent() {}

void SimulatedPicker::presentForStream(CaptureStream&) {}

bool SimulatedPicker::active() const {
    std::lock_guard lock(mutex_);
    return active_;
}

PickerConfiguration SimulatedPicker::configuration() const {
    std::lock_guard lock(mutex_);
    return configuration_;
}

}  // namespace scene::simulated
