#include "tools/view/sampler_lines.h"

#include "platform/json_read.h"

namespace scene::view {
namespace {

constexpr std::string_view kKind = "kind";
constexpr std::string_view kCaptureSnapshot = "capture-snapshot";
constexpr std::string_view kRequestId = "requestId";
constexpr std::string_view kImage = "image";
constexpr std::string_view kDisplayID = "displayID";
constexpr std::string_view kObservedAtMS = "observedAtMS";
constexpr std::string_view kError = "error";

}  // namespace

SamplerLine classifySamplerLine(std::string_view text) {
    SamplerLine line;
    line.value = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!line.value.is_object()) return line;
    const Json* kind = json_read::member(line.value, kKind);
    if (kind == nullptr) {
        line.kind = SamplerLine::Kind::snapshot;
    } else if (json_read::string(*kind) == kCaptureSnapshot) {
        line.kind = SamplerLine::Kind::captureReply;
    }
    return line;
}

std::optional<CaptureReply> captureReply(const Json& record) {
    CaptureReply reply;
    const auto requestId = json_read::string(record, kRequestId);
    if (!requestId) return std::nullopt;
    reply.requestId = *requestId;
    reply.image = json_read::string(record, kImage);
    reply.error = json_read::string(record, kError);
    if (!reply.image && !reply.error) return std::nullopt;
    reply.displayID = json_read::uint32(record, kDisplayID);
    reply.observedAtMS = json_read::looseDouble(record, kObservedAtMS);
    return reply;
}

}  // namespace scene::view
