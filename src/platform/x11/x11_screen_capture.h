#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/runtime.h"
#include "platform/screen_capture.h"

namespace scene::x11 {

inline constexpr std::string_view kCaptureErrorDomain = "scene.x11.capture";
inline constexpr long kCaptureUnavailable = 1;

// Screen capture is not available on this back-end yet: the picker fails to
// start and streams fail to start, each answer posted on the service's own
// queue as a real one would arrive. Any thread.
class X11ScreenCapture final : public ScreenCapture {
public:
    X11ScreenCapture(Runtime& runtime, const std::string& displayName);
    ~X11ScreenCapture() override;

    ContentSharingPicker& sharedPicker() override;
    std::shared_ptr<CaptureStream> createStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                                StreamDelegate& delegate) override;
    double hostTimeNow() override { return runtime_.clock().uptime(); }

    struct Observers {
        std::mutex mutex;
        std::vector<PickerObserver*> list;
    };

private:
    Runtime& runtime_;
    std::shared_ptr<Queue> queue_;
    std::shared_ptr<Observers> observers_;
    std::unique_ptr<ContentSharingPicker> picker_;
};

}  // namespace scene::x11
