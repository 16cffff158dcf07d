#include "platform/x11/x11_screen_capture.h"

#include "platform/x11/x11_capture_stream.h"

namespace scene::x11 {

X11ScreenCapture::X11ScreenCapture(Runtime& runtime, const std::string& displayName)
    : runtime_(runtime),
      displayName_(displayName),
      queue_(runtime.makeSerialQueue(kCaptureQueueLabel)),
      picker_(std::make_unique<X11Picker>(displayName, *queue_)) {}

X11ScreenCapture::~X11ScreenCapture() {
    // Joins the picker's answer in flight and drops those still queued.
    queue_.reset();
}

std::shared_ptr<CaptureStream> X11ScreenCapture::createStream(const ContentFilter& filter,
                                                              const StreamConfiguration& configuration,
                                                              StreamDelegate& delegate) {
    return X11CaptureStream::create(displayName_, filter, configuration, delegate, runtime_.clock());
}

}  // namespace scene::x11
