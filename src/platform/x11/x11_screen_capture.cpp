#include "platform/x11/x11_screen_capture.h"

#include <algorithm>

namespace scene::x11 {
namespace {

PlatformError unavailable() { return PlatformError{std::string(kCaptureErrorDomain), kCaptureUnavailable}; }

class UnavailablePicker final : public ContentSharingPicker {
public:
    UnavailablePicker(std::shared_ptr<Queue> queue, std::shared_ptr<X11ScreenCapture::Observers> observers)
        : queue_(std::move(queue)), observers_(std::move(observers)) {}

    void addObserver(PickerObserver& observer) override {
        std::lock_guard lock(observers_->mutex);
        observers_->list.push_back(&observer);
    }
    void removeObserver(PickerObserver& observer) override {
        std::lock_guard lock(observers_->mutex);
        std::erase(observers_->list, &observer);
    }
    void setConfiguration(const PickerConfiguration&) override {}
    void setActive(bool) override {}
    void presentForDisplayContent() override { fail(); }
    void presentForStream(CaptureStream&) override { fail(); }

private:
    void fail() {
        // Observers that leave before the answer runs are not called.
        queue_->post([weak = std::weak_ptr(observers_)] {
            const auto observers = weak.lock();
            if (!observers) return;
            std::lock_guard lock(observers->mutex);
            for (PickerObserver* observer : observers->list) observer->pickerStartDidFail(unavailable());
        });
    }

    std::shared_ptr<Queue> queue_;
    std::shared_ptr<X11ScreenCapture::Observers> observers_;
};

class UnavailableStream final : public CaptureStream {
public:
    explicit UnavailableStream(std::shared_ptr<Queue> queue) : queue_(std::move(queue)) {}

    std::optional<PlatformError> addStreamOutput(StreamOutput&, Queue&) override { return std::nullopt; }
    void startCapture(CaptureCompletion completion) override {
        queue_->post([completion = std::move(completion)] { completion(unavailable()); });
    }
    void stopCapture(CaptureCompletion completion) override {
        queue_->post([completion = std::move(completion)] { completion(std::nullopt); });
    }

private:
    std::shared_ptr<Queue> queue_;
};

}  // namespace

X11ScreenCapture::X11ScreenCapture(Runtime& runtime, const std::string&)
    : runtime_(runtime),
      queue_(runtime.makeSerialQueue("x11.capture")),
      observers_(std::make_shared<Observers>()),
      picker_(std::make_unique<UnavailablePicker>(queue_, observers_)) {}

X11ScreenCapture::~X11ScreenCapture() = default;

ContentSharingPicker& X11ScreenCapture::sharedPicker() { return *picker_; }

std::shared_ptr<CaptureStream> X11ScreenCapture::createStream(const ContentFilter&, const StreamConfiguration&,
                                                              StreamDelegate&) {
    return std::make_shared<UnavailableStream>(queue_);
}

}  // namespace scene::x11
