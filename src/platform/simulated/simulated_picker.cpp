#include "platform/simulated/simulated_picker.h"

#include <algorithm>
#include <string>
#include <utility>

#include "platform/simulated/capture_settings.h"
#include "platform/simulated/capture_words.h"
#include "platform/simulated/simulated_stream.h"

namespace scene::simulated {
namespace {

// The filter of a "select" answer. The content rect defaults to the bounds of
// `display`, so several included displays are noticed only where the filter
// reports them, from 15.2 on.
ContentFilter selectedFilter(const DesktopModel& model, const PickerSettings& settings) {
    ContentFilter filter;
    filter.style = settings.style;
    std::vector<DisplayID> included;
    if (settings.displays) {
        included = *settings.displays;
    } else if (settings.display) {
        included.push_back(*settings.display);
    } else if (!model.displays.empty()) {
        included.push_back(model.displays.front().id);
    }
    if (settings.contentRect) {
        filter.contentRect = *settings.contentRect;
    } else {
        std::optional<DisplayID> shown = settings.display;
        if (!shown && !included.empty()) shown = included.front();
        if (const DisplayModel* display = shown ? model.display(*shown) : nullptr) filter.contentRect = display->bounds;
    }
    if (model.system.version.atLeast(15, 2)) filter.includedDisplays = std::move(included);
    return filter;
}

}  // namespace

struct SimulatedPicker::Answer {
    PickerSettings::Action action = PickerSettings::Action::none;
    ContentFilter filter;
    PlatformError error;
    // Streams of this service are held weakly: one destroyed meanwhile is
    // answered as no stream rather than as a dangling one.
    std::weak_ptr<CaptureStream> ownStream;
    CaptureStream* otherStream = nullptr;
};

SimulatedPicker::SimulatedPicker(std::shared_ptr<Desktop> desktop, Runtime& runtime)
    : desktop_(std::move(desktop)), queue_(runtime.makeSerialQueue(kPickerQueueLabel)) {}

SimulatedPicker::~SimulatedPicker() { queue_.reset(); }

void SimulatedPicker::addObserver(PickerObserver& observer) {
    std::lock_guard lock(mutex_);
    if (std::find(observers_.begin(), observers_.end(), &observer) == observers_.end()) observers_.push_back(&observer);
}

void SimulatedPicker::removeObserver(PickerObserver& observer) {
    std::lock_guard delivering(delivering_);
    std::lock_guard lock(mutex_);
    std::erase(observers_, &observer);
}

void SimulatedPicker::setConfiguration(const PickerConfiguration& configuration) {
    std::lock_guard lock(mutex_);
    configuration_ = configuration;
}

void SimulatedPicker::setActive(bool active) {
    std::lock_guard lock(mutex_);
    if (active_ && !active) ++showing_;
    active_ = active;
}

bool SimulatedPicker::active() const {
    std::lock_guard lock(mutex_);
    return active_;
}

PickerConfiguration SimulatedPicker::configuration() const {
    std::lock_guard lock(mutex_);
    return configuration_;
}

int SimulatedPicker::presentations() const {
    std::lock_guard lock(mutex_);
    return presentations_;
}

void SimulatedPicker::presentForDisplayContent() { present(nullptr); }

void SimulatedPicker::presentForStream(CaptureStream& stream) { present(&stream); }

void SimulatedPicker::present(CaptureStream* stream) {
    auto [settings, answer] = desktop_->read([](const DesktopModel& model) {
        Answer answer;
        answer.action = model.picker.action;
        if (answer.action == PickerSettings::Action::select) answer.filter = selectedFilter(model, model.picker);
        answer.error = {std::string(kStreamErrorDomain), model.picker.code};
        return std::pair(model.picker, std::move(answer));
    });
    if (stream != nullptr) {
        if (auto* own = dynamic_cast<SimulatedStream*>(stream)) {
            answer.ownStream = own->weak_from_this();
        } else {
            answer.otherStream = stream;
        }
    }
    std::uint64_t presentation = 0;
    {
        std::lock_guard lock(mutex_);
        if (!active_) return;
        ++presentations_;
        presentation = ++showing_;
    }
    if (settings.action == PickerSettings::Action::none) return;
    queue_->postAfter(settings.after,
                      [this, presentation, answer = std::move(answer)] { deliver(presentation, answer); });
}

void SimulatedPicker::deliver(std::uint64_t presentation, const Answer& answer) {
    std::lock_guard delivering(delivering_);
    std::vector<PickerObserver*> observers;
    {
        std::lock_guard lock(mutex_);
        if (showing_ != presentation) return;
        ++showing_;  // answered: the picker is off screen
        observers = observers_;
    }
    const std::shared_ptr<CaptureStream> own = answer.ownStream.lock();
    CaptureStream* const stream = own ? own.get() : answer.otherStream;
    for (PickerObserver* observer : observers) {
        {
            // An observer may remove another from its callback.
            std::lock_guard lock(mutex_);
            if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) continue;
        }
        switch (answer.action) {
            case PickerSettings::Action::select:
                observer->pickerDidUpdate(answer.filter, stream);
                break;
            case PickerSettings::Action::cancel:
                observer->pickerDidCancel(stream);
                break;
            case PickerSettings::Action::fail:
                observer->pickerStartDidFail(answer.error);
                break;
            case PickerSettings::Action::none:
                break;
        }
    }
}

}  // namespace scene::simulated
