#pragma once

#include <mutex>
#include <vector>

#include "platform/screen_capture.h"

namespace scene::simulated {

// The content-sharing picker of the simulated desktop. It keeps its observers
// and configuration; presenting shows nothing yet, so no answer ever comes
// (the scene's `picker` settings wait in the desktop model for that). Any
// thread.
class SimulatedPicker final : public ContentSharingPicker {
public:
    void addObserver(PickerObserver& observer) override;
    void removeObserver(PickerObserver& observer) override;
    void setConfiguration(const PickerConfiguration& configuration) override;
    void setActive(bool active) override;
    void presentForDisplayContent() override;
    void presentForStream(CaptureStream& stream) override;

    bool active() const;
    PickerConfiguration configuration() const;

private:
    mutable std::mutex mutex_;
    std::vector<PickerObserver*> observers_;
    PickerConfiguration configuration_;
    bool active_ = false;
};

}  // namespace scene::simulated
