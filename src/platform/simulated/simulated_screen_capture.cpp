#include "platform/simulated/simulated_screen_capture.h"

#include "platform/simulated/capture_words.h"
#include "platform/simulated/simulated_stream.h"

namespace scene::simulated {

SimulatedScreenCapture::SimulatedScreenCapture(std::shared_ptr<Desktop> desktop, Runtime& runtime)
    : desktop_(std::move(desktop)),
      runtime_(runtime),
      streams_(std::make_shared<StreamRegistry>()),
      serviceQueue_(runtime.makeSerialQueue(kServiceQueueLabel)),
      service_(std::make_shared<GatedQueue>(*serviceQueue_)),
      picker_(desktop_, runtime) {
    Desktop::CaptureListener listener;
    listener.streamSettingsChanged = [weak = std::weak_ptr<StreamRegistry>(streams_)] {
        if (const auto streams = weak.lock()) streams->settingsChanged();
    };
    listener.streamError = [weak = std::weak_ptr<StreamRegistry>(streams_)](const PlatformError& error) {
        if (const auto streams = weak.lock()) streams->streamError(error);
    };
    desktop_->setCaptureListener(std::move(listener));
}

SimulatedScreenCapture::~SimulatedScreenCapture() {
    desktop_->setCaptureListener({});
    service_->close();
}

std::shared_ptr<CaptureStream> SimulatedScreenCapture::createStream(const ContentFilter& filter,
                                                                    const StreamConfiguration& configuration,
                                                                    StreamDelegate& delegate) {
    auto stream = std::make_shared<SimulatedStream>(filter, configuration, delegate, desktop_, runtime_.clock(),
                                                    service_, streams_);
    streams_->add(stream);
    return stream;
}

double SimulatedScreenCapture::hostTimeNow() { return runtime_.clock().uptime(); }

std::shared_ptr<CaptureStream> SimulatedScreenCapture::primaryStream() const { return streams_->primary(); }

}  // namespace scene::simulated
