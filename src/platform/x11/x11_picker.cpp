#include "platform/x11/x11_picker.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/x11/x11_capture_connection.h"
#include "platform/x11/x11_capture_stream.h"
#include "platform/x11/x11_capture_words.h"

namespace scene::x11 {
namespace {

// The filter for the monitor under the pointer, or why there is none.
struct Choice {
    std::optional<ContentFilter> filter;
    PlatformError error;
};

Choice choose(const std::string& displayName) {
    Choice choice;
    const auto connection = CaptureConnection::open(displayName);
    if (!connection) {
        choice.error = captureError(kCaptureConnectionFailed);
        return choice;
    }
    const auto monitor = connection->monitorUnderPointer();
    if (!monitor) {
        choice.error = captureError(kCaptureNoMonitor);
        return choice;
    }
    ContentFilter filter;
    filter.style = ContentFilter::Style::display;
    filter.contentRect = monitor->bounds;
    filter.includedDisplays = {monitor->id};
    choice.filter = std::move(filter);
    return choice;
}

}  // namespace

X11Picker::X11Picker(std::string displayName, Queue& queue)
    : displayName_(std::move(displayName)), queue_(queue), observers_(std::make_shared<Observers>()) {}

X11Picker::~X11Picker() = default;

void X11Picker::addObserver(PickerObserver& observer) {
    std::lock_guard lock(observers_->mutex);
    if (std::find(observers_->list.begin(), observers_->list.end(), &observer) == observers_->list.end())
        observers_->list.push_back(&observer);
}

void X11Picker::removeObserver(PickerObserver& observer) {
    std::lock_guard lock(observers_->mutex);
    std::erase(observers_->list, &observer);
}

void X11Picker::presentForDisplayContent() { present({}, nullptr); }

void X11Picker::presentForStream(CaptureStream& stream) {
    // Streams of this back-end are held weakly: one destroyed meanwhile is
    // answered as no stream rather than as a dangling one.
    if (auto* own = dynamic_cast<X11CaptureStream*>(&stream)) {
        present(own->weak_from_this(), nullptr);
    } else {
        present({}, &stream);
    }
}

void X11Picker::present(std::weak_ptr<CaptureStream> own, CaptureStream* other) {
    queue_.post([displayName = displayName_, weak = std::weak_ptr(observers_), own = std::move(own), other] {
        const auto observers = weak.lock();
        if (!observers) return;
        const Choice choice = choose(displayName);
        const auto held = own.lock();
        CaptureStream* const stream = held ? held.get() : other;
        std::lock_guard lock(observers->mutex);
        const std::vector<PickerObserver*> listed = observers->list;
        for (PickerObserver* observer : listed) {
            // An observer may remove another from its callback.
            if (std::find(observers->list.begin(), observers->list.end(), observer) == observers->list.end()) continue;
            if (choice.filter) {
                observer->pickerDidUpdate(*choice.filter, stream);
            } else {
                observer->pickerStartDidFail(choice.error);
            }
        }
    });
}

}  // namespace scene::x11
