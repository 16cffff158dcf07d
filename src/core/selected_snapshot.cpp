// The "capture-snapshot" request: a JPEG still of the selected display, newer
// than the frame current when it was asked for.
#include "core/base64.h"
#include "core/decimal.h"
#include "core/jpeg_encoder.h"
#include "core/scene_sampler.h"

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

// An unsigned 64-bit decimal, "+" allowed; "-" followed only by zeros is zero.
bool isRequestID(const std::string& text) {
    if (text.empty() || text.size() > kMaxRequestIDLength) return false;
    const auto decimal = parseDecimal(text);
    return decimal && (!decimal->negative || decimal->magnitude == 0);
}

std::string errorReply(const std::string& requestID, const char* error) {
    return Json{{"kind", kKind}, {"requestId", requestID}, {"error", error}}.dump(-1, ' ', false,
                                                                                 Json::error_handler_t::replace);
}

}  // namespace

void SceneSampler::selectedSnapshot(const std::string& requestID) {
    if (!isRequestID(requestID)) return;
    if (!selectedCaptureSupported_) {
        writeLine(errorReply(requestID, kUnsupportedOS));
        return;
    }
    const auto frame = session.current();
    attemptSelectedSnapshot(requestID, session.generation, frame ? frame->sequence : 0,
                            runtime_.clock().uptime() + kRequestTimeout);
}

void SceneSampler::attemptSelectedSnapshot(const std::string& requestID, std::uint64_t generation,
                                           std::uint64_t sequence, double deadline) {
    const bool sameSelection = session.generation == generation;
    std::optional<SelectedCaptureSession::Frame> frame;
    if (sameSelection && capture.enabled) frame = session.current();
    if (frame && frame->sequence > sequence) {
        const auto jpeg = encodeJPEG(frame->image, kJPEGQuality);
        if (jpeg && jpeg->size() <= kMaxJPEGBytes) {
            const Clock& clock = runtime_.clock();
            const double age = std::max(0.0, clock.uptime() - frame->observed);
            const Json reply = {
                {"kind", kKind},
                {"requestId", requestID},
                {"displayID", frame->displayID},
                {"image", base64Encode(*jpeg)},
                {"generation", generation},
                {"consentID", session.consents},
                {"observedAtMS", clock.wallSeconds() * 1000 - age * 1000},
            };
            writeLine(reply.dump(-1, ' ', false, Json::error_handler_t::replace));
            return;
        }
    }
    if (sameSelection && session.current() && runtime_.clock().uptime() < deadline) {
        runtime_.mainQueue().postAfter(kAttemptInterval, [this, requestID, generation, sequence, deadline] {
            attemptSelectedSnapshot(requestID, generation, sequence, deadline);
        });
        return;
    }
    writeLine(errorReply(requestID, kSelectionUnavailable));
}

}  // namespace scene
