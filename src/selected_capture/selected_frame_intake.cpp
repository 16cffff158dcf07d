// Frame intake: sample buffers arrive on `output`, are counted, aged and
// stamped there, and at most one at a time travels to the main queue, where it
// is published as the session's latest frame.

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/json_read.h"
#include "selected_capture/selected_capture_session.h"
#include "selected_capture/selected_frame_image.h"
#include "selected_capture/selected_frame_rect.h"

namespace scene {
namespace {

double numberOrZero(const Json& attachments, std::string_view key) {
    const Json* value = json_read::member(attachments, key);
    return value != nullptr && value->is_number() ? value->get<double>() : 0.0;
}

}  // namespace

void SelectedCaptureSession::didOutputSampleBuffer(CaptureStream& from, const SampleBuffer& buffer) {
    using namespace selected_words;
    if (!buffer.valid || !buffer.attachments) return;
    const Json& attachments = *buffer.attachments;
    const auto status = json_read::int32(attachments, kFrameStatusKey);
    if (!status) return;

    const double age = platform_.screenCapture().hostTimeNow() - buffer.presentationTime;
    const bool ageAcceptable =
        std::isfinite(age) && age >= kEarliestBufferAge && age < SelectedCaptureHealth::kFreshLimit;
    Delivery delivery;
    {
        const std::lock_guard<std::mutex> lock(deliveryLock);
        ++rawBuffers;
        ++statuses[*status];
        if (!ageAcceptable) {
            ++ageRejectedBuffers;
            return;
        }
        // Only frames of the live stream, while they could be shown, get a
        // generation; and only one is on its way at a time: the rest are
        // dropped, never queued.
        if (!gate_.stamping || gate_.primary.get() != &from || deliveryPending) return;
        deliveryPending = true;
        delivery.stream = gate_.primary;
        delivery.stamp = gate_.generation;
    }

    delivery.observed = runtime_.clock().uptime() - std::max(0.0, age);
    delivery.contentRect = selectedFrameRect(json_read::member(attachments, kFrameContentRectKey));
    delivery.screenRect = selectedFrameRect(json_read::member(attachments, kFrameScreenRectKey));
    delivery.scale = numberOrZero(attachments, kFrameScaleFactorKey);
    delivery.contentScale = numberOrZero(attachments, kFrameContentScaleKey);

    const bool carriesPixels = *status == kFrameComplete || *status == kFrameStarted;
    if (carriesPixels && buffer.imageBuffer) {
        // The copy happens here, off the main queue.
        delivery.image = selectedFrameImage(*buffer.imageBuffer, *frameCopies_);
        if (!delivery.image) {
            onMain([this] { ++frameCopyFailures; });
            finishDelivery();
            return;
        }
        onMain([this, delivery = std::move(delivery)] {
            publishFrame(delivery);
            finishDelivery();
        });
    } else if (*status == kFrameIdle) {
        onMain([this, delivery = std::move(delivery)] {
            publishIdle(delivery);
            finishDelivery();
        });
    } else {
        onMain([this, delivery = std::move(delivery)] {
            interrupt(delivery);
            finishDelivery();
        });
    }
}

void SelectedCaptureSession::finishDelivery() {
    const std::lock_guard<std::mutex> lock(deliveryLock);
    deliveryPending = false;
}

void SelectedCaptureSession::publishFrame(const Delivery& delivery) {
    const double now = runtime_.clock().uptime();
    if (delivery.stream != stream || delivery.stamp != generation || paused || presenting || !selectedDisplay) return;
    if (!(now - delivery.observed < SelectedCaptureHealth::kFreshLimit)) return;
    ++frames;
    frameContentRect = delivery.contentRect;
    frameScreenRect = delivery.screenRect;
    frameScale = delivery.scale;
    frameContentScale = delivery.contentScale;
    health.observe(delivery.observed);
    latest = Frame{*delivery.image, bounds, *selectedDisplay, generation, frames, delivery.observed};
    retained = latest;
    markReady();
}

void SelectedCaptureSession::publishIdle(const Delivery& delivery) {
    if (delivery.stream != stream || delivery.stamp != generation || paused || presenting || !retained) return;
    ++frames;
    health.observe(delivery.observed);
    // Nothing changed on screen: the last new pixels stand for this moment.
    Frame frame = *retained;
    frame.generation = generation;
    frame.sequence = frames;
    frame.observed = delivery.observed;
    latest = std::move(frame);
    markReady();
}

void SelectedCaptureSession::interrupt(const Delivery& delivery) {
    if (delivery.stream != stream || delivery.stamp != generation) return;
    retained.reset();
    // Already interrupted, a transition still withdraws the published frame.
    if (state != selected_words::kInterrupted || latest) transition(std::string(selected_words::kInterrupted));
}

void SelectedCaptureSession::markReady() {
    if (state != selected_words::kReady) record(selected_words::kFirstFrame);
    // Not a transition: the generation stays, so the frame just published
    // stays current, and the samplers are not reset.
    state = std::string(selected_words::kReady);
}

}  // namespace scene
