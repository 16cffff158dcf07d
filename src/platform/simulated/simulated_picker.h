#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/runtime.h"
#include "platform/screen_capture.h"
#include "platform/simulated/desktop.h"

namespace scene::simulated {

// The content-sharing picker of the simulated desktop. Keeps its observers,
// configuration and active flag; a presentation is answered as the scene's
// `picker` settings say at that moment, `after` seconds later, on the picker's
// own serial queue (the system's picker, too, answers from a thread of its
// own).
//
// Like the system's picker it presents only while active: presenting an
// inactive picker shows nothing and never answers. Only one presentation is on
// screen at a time: presenting again replaces a pending answer, and
// deactivating drops it. Once removeObserver returns, that observer is not
// called again; observers must therefore not wait for a thread that may be
// removing them. Any thread.
class SimulatedPicker final : public ContentSharingPicker {
public:
    SimulatedPicker(std::shared_ptr<Desktop> desktop, Runtime& runtime);
    ~SimulatedPicker() override;

    void addObserver(PickerObserver& observer) override;
    void removeObserver(PickerObserver& observer) override;
    void setConfiguration(const PickerConfiguration& configuration) override;
    void setActive(bool active) override;
    void presentForDisplayContent() override;
    void presentForStream(CaptureStream& stream) override;

    bool active() const;
    PickerConfiguration configuration() const;
    // Presentations made while active, answered or not.
    int presentations() const;

private:
    struct Answer;

    void present(CaptureStream* stream);
    void deliver(std::uint64_t presentation, const Answer& answer);

    std::shared_ptr<Desktop> desktop_;
    mutable std::mutex mutex_;
    std::vector<PickerObserver*> observers_;
    PickerConfiguration configuration_;
    bool active_ = false;
    int presentations_ = 0;
    std::uint64_t showing_ = 0;  // the presentation whose answer still counts
    // Held while observers are called, so removal waits for a call in flight;
    // recursive because an observer may remove itself from its callback.
    std::recursive_mutex delivering_;
    // Last member: destroyed first, dropping answers not yet given.
    std::unique_ptr<Queue> queue_;
};

}  // namespace scene::simulated
