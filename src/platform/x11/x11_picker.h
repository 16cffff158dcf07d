#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/runtime.h"
#include "platform/screen_capture.h"

namespace scene::x11 {

// The content-sharing picker of an X desktop. X has no system picker to put
// in front of the user, so a presentation is answered at once with the
// monitor the user is working on, the one under the pointer: a display filter
// naming it by the window server's display number, its bounds as the content
// rect. With no monitor to offer the picker fails to start. Answers run on the
// capture service's queue, as a system picker answers from a thread of its
// own; configuration and the active flag change nothing, there being nothing
// on screen to configure.
//
// Once removeObserver returns, that observer is not called again (an answer
// under way finishes first, so observers must not wait for a thread that may
// be removing them; removing oneself from the callback is fine). Answers
// still queued when the picker goes are dropped. Any thread.
class X11Picker final : public ContentSharingPicker {
public:
    X11Picker(std::string displayName, Queue& queue);
    ~X11Picker() override;

    void addObserver(PickerObserver& observer) override;
    void removeObserver(PickerObserver& observer) override;
    void setConfiguration(const PickerConfiguration&) override {}
    void setActive(bool) override {}
    void presentForDisplayContent() override;
    void presentForStream(CaptureStream& stream) override;

    // Shared with the answers in the queue, which hold it weakly.
    struct Observers {
        // Held while observers are called, so a removal waits for a call in
        // flight; recursive because an observer may remove itself.
        std::recursive_mutex mutex;
        std::vector<PickerObserver*> list;
    };

private:
    void present(std::weak_ptr<CaptureStream> own, CaptureStream* other);

    const std::string displayName_;
    Queue& queue_;
    std::shared_ptr<Observers> observers_;
};

}  // namespace scene::x11
