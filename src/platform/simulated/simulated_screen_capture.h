#pragma once

#include <memory>

#include "platform/runtime.h"
#include "platform/screen_capture.h"
#include "platform/simulated/desktop.h"
#include "platform/simulated/gated_queue.h"
#include "platform/simulated/simulated_picker.h"
#include "platform/simulated/stream_registry.h"

namespace scene::simulated {

// The screen-capture service of the simulated desktop: the shared picker, the
// streams it hands out (which render the desktop model) and the host clock,
// which is the runtime's uptime so presentation times and sample ages agree
// with everything else. Owns the private serial queue on which its streams
// complete and render, and hears the timeline's `stream` and `stream-error`
// actions for them. Any thread.
class SimulatedScreenCapture final : public ScreenCapture {
public:
    SimulatedScreenCapture(std::shared_ptr<Desktop> desktop, Runtime& runtime);
    ~SimulatedScreenCapture() override;

    ContentSharingPicker& sharedPicker() override { return picker_; }
    std::shared_ptr<CaptureStream> createStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                                StreamDelegate& delegate) override;
    double hostTimeNow() override;

    SimulatedPicker& picker() { return picker_; }
    // The most recently started stream that still runs, if any.
    std::shared_ptr<CaptureStream> primaryStream() const;

private:
    std::shared_ptr<Desktop> desktop_;
    Runtime& runtime_;
    std::shared_ptr<StreamRegistry> streams_;
    // Where streams complete and render. Streams hold only the gate, which is
    // closed before the queue goes, so no stream can end up owning a thread.
    std::unique_ptr<Queue> serviceQueue_;
    std::shared_ptr<GatedQueue> service_;
    SimulatedPicker picker_;
};

}  // namespace scene::simulated
