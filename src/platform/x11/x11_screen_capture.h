#pragma once

#include <memory>
#include <string>

#include "platform/runtime.h"
#include "platform/screen_capture.h"
#include "platform/x11/x11_capture_words.h"
#include "platform/x11/x11_picker.h"

namespace scene::x11 {

// The screen-capture service of an X desktop: the picker, which offers the
// monitor under the pointer, and streams that read a monitor on threads and
// connections of their own (X11CaptureStream). The host clock is the
// runtime's uptime, so presentation times and sample ages agree with
// everything else. Owns the serial queue the picker answers on. Any thread.
class X11ScreenCapture final : public ScreenCapture {
public:
    X11ScreenCapture(Runtime& runtime, const std::string& displayName);
    ~X11ScreenCapture() override;

    ContentSharingPicker& sharedPicker() override { return *picker_; }
    std::shared_ptr<CaptureStream> createStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                                StreamDelegate& delegate) override;
    double hostTimeNow() override { return runtime_.clock().uptime(); }

private:
    Runtime& runtime_;
    const std::string displayName_;
    std::unique_ptr<Queue> queue_;
    std::unique_ptr<X11Picker> picker_;
};

}  // namespace scene::x11
