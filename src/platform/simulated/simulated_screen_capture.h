#pragma once

#include <memory>

#include "platform/runtime.h"
#include "platform/screen_capture.h"
#include "platform/simulated/desktop.h"
#include "platform/simulated/simulated_picker.h"

namespace scene::simulated {

// The screen-capture service of the simulated desktop: the shared picker and
// the host clock, which is the runtime's uptime so presentation times and
// sample ages agree with everything else. Streams are not rendered yet:
// creating one gives nothing. Any thread.
class SimulatedScreenCapture final : public ScreenCapture {
public:
    SimulatedScreenCapture(std::shared_ptr<Desktop> desktop, Runtime& runtime)
        : desktop_(std::move(desktop)), runtime_(runtime) {}

    ContentSharingPicker& sharedPicker() override { return picker_; }
    std::shared_ptr<CaptureStream> createStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                                StreamDelegate& delegate) override;
    double hostTimeNow() override;

    SimulatedPicker& picker() { return picker_; }

private:
    std::shared_ptr<Desktop> desktop_;
    Runtime& runtime_;
    SimulatedPicker picker_;
};

}  // namespace scene::simulated
