#include "core/selected_stills.h"

#include <algorithm>

#include "capture_access/native_capture_access.h"
#include "core/base64.h"
#include "core/decimal.h"
#include "core/jpeg_encoder.h"
#include "platform/records.h"

namespace scene {
namespace {

constexpr std::size_t kMaxRequestIDLength = 20;
constexpr double kRequestTimeout = 2.0;
constexpr double kAttemptInterval = 0.05;
constexpr std::size_t kMaxJPEGBytes = 0x7FFFFF;
constexpr int kJPEGQuality = 85;
constexpr const char* kKind = "capture-snapshot";
constexpr const char* kUnsupportedOS = "unsupported-os";
constexpr const char* kSelectionUnavailable = "selection-unavailable";
constexpr std::string_view kEmptyImage = R"("image":"")";

// An unsigned 64-bit decimal, "+" allowed; "-" followed only by zeros is zero.
bool isRequestID(const std::string& text) {
    if (text.empty() || text.size() > kMaxRequestIDLength) return false;
    const auto decimal = parseDecimal(text);
    return decimal && (!decimal->negative || decimal->magnitude == 0);
}

std::string dumped(const Json& reply) { return reply.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace

SelectedStills::SelectedStills(Runtime& runtime, const SelectedCaptureSession& session,
                               const NativeCaptureAccess& capture, bool supported, WriteLine writeLine)
    : runtime_(runtime),
      session_(session),
      capture_(capture),
      supported_(supported),
      writeLine_(std::move(writeLine)),
      encoder_(runtime.makeSerialQueue("stills")) {}

SelectedStills::~SelectedStills() { encoder_.reset(); }

void SelectedStills::request(const std::string& requestID) {
    if (!isRequestID(requestID)) return;
    if (!supported_) {
        answer({.id = requestID, .generation = 0, .still = nullptr, .error = kUnsupportedOS});
        return;
    }
    const auto frame = session_.current();
    waiting_.push_back({.id = requestID,
                        .generation = session_.generation,
                        .sequence = frame ? frame->sequence : 0,
                        .deadline = runtime_.clock().uptime() + kRequestTimeout,
                        .awaiting = std::nullopt});
    attempt();
}

void SelectedStills::attempt() {
    const double now = runtime_.clock().uptime();
    const auto current = session_.current();
    std::deque<Request> waiting;
    for (Request& request : waiting_) {
        if (request.awaiting) {
            waiting.push_back(std::move(request));
            continue;
        }
        const bool sameSelection = session_.generation == request.generation;
        if (sameSelection && capture_.enabled && current && current->sequence > request.sequence) {
            const bool encoded =
                newest_ && newest_->generation == current->generation && newest_->sequence == current->sequence;
            if (!encoded) {
                request.awaiting = current->sequence;
                if (!encoding_) encode(*current);
                waiting.push_back(std::move(request));
                continue;
            }
            if (!newest_->image.empty()) {
                answer({.id = request.id, .generation = request.generation, .still = newest_, .error = nullptr});
                continue;
            }
            // A frame that cannot be sent counts as no frame: wait for the next.
        }
        if (sameSelection && current && now < request.deadline) {
            waiting.push_back(std::move(request));
            continue;
        }
        answer({.id = request.id, .generation = 0, .still = nullptr, .error = kSelectionUnavailable});
    }
    waiting_ = std::move(waiting);
    // Nothing the waiting requests need can come sooner than a new frame, and
    // the next attempt sees that; one loop serves them all.
    if (!waiting_.empty()) {
        scheduleAttempt();
    } else if (!encoding_) {
        // A later request wants a frame newer than any encoded so far: the
        // last still (a megabyte at 4K) is of no more use.
        newest_.reset();
    }
}

void SelectedStills::scheduleAttempt() {
    if (attemptScheduled_) return;
    attemptScheduled_ = true;
    runtime_.mainQueue().postAfter(kAttemptInterval, [this, alive = std::weak_ptr<int>(alive_)] {
        if (alive.expired()) return;
        attemptScheduled_ = false;
        attempt();
    });
}

void SelectedStills::encode(const SelectedCaptureSession::Frame& frame) {
    encoding_ = frame.sequence;
    ++encodings;
    auto still = std::make_shared<Still>();
    still->generation = frame.generation;
    still->sequence = frame.sequence;
    still->displayID = frame.displayID;
    still->observed = frame.observed;
    encoder_->post([this, alive = std::weak_ptr<int>(alive_), &main = runtime_.mainQueue(), image = frame.image,
                    still = std::move(still)]() mutable {
        const auto jpeg = encodeJPEG(image, kJPEGQuality);
        if (jpeg && jpeg->size() <= kMaxJPEGBytes) still->image = base64Encode(*jpeg);
        main.post([this, alive, still = std::shared_ptr<const Still>(std::move(still))]() mutable {
            if (!alive.expired()) encoded(std::move(still));
        });
    });
}

void SelectedStills::encoded(std::shared_ptr<const Still> still) {
    encoding_.reset();
    newest_ = std::move(still);
    std::deque<Request> waiting;
    for (Request& request : waiting_) {
        if (request.awaiting == newest_->sequence && !newest_->image.empty()) {
            answer({.id = request.id, .generation = request.generation, .still = newest_, .error = nullptr});
            continue;
        }
        // Found nothing to send, or waited behind an older frame's encoding:
        // the next attempt looks again at what is current.
        request.awaiting.reset();
        waiting.push_back(std::move(request));
    }
    waiting_ = std::move(waiting);
    attempt();
}

void SelectedStills::answer(Reply reply) {
    replies_.push_back(std::move(reply));
    if (!writing_) writeNextReply();
}

void SelectedStills::writeNextReply() {
    writing_ = !replies_.empty();
    if (!writing_) return;
    const Reply reply = std::move(replies_.front());
    replies_.pop_front();
    if (reply.still) {
        writeStill(reply);
    } else {
        writeLine_(dumped(Json{{"kind", kKind}, {"requestId", reply.id}, {"error", reply.error}}));
    }
    // Whatever comes next goes out in a task of its own, replies answered in
    // this same turn included: the pass timer gets its turn between two
    // replies of a burst. That task also ends the writing when none is left.
    runtime_.mainQueue().post([this, alive = std::weak_ptr<int>(alive_)] {
        if (!alive.expired()) writeNextReply();
    });
}

void SelectedStills::writeStill(const Reply& reply) {
    const Still& still = *reply.still;
    const Clock& clock = runtime_.clock();
    const double age = std::max(0.0, clock.uptime() - still.observed);
    const std::string text = dumped(Json{
        {"kind", kKind},
        {"requestId", reply.id},
        {"displayID", still.displayID},
        {"image", ""},
        {"generation", reply.generation},
        {"consentID", session_.consents},
        {"observedAtMS", clock.wallSeconds() * 1000 - age * 1000},
    });
    // Base64 needs no escaping in JSON, so the image goes straight into the
    // serialised reply instead of through the serialiser, which would copy and
    // scan a megabyte once more for every request of a burst.
    const std::size_t at = text.find(kEmptyImage) + kEmptyImage.size() - 1;
    line_.assign(text, 0, at);
    line_.append(still.image);
    line_.append(text, at);
    writeLine_(line_);
}

}  // namespace scene
