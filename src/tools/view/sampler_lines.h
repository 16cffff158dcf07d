#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/records.h"

namespace scene::view {

// One line of the sampler's standard output, told apart by its "kind" key:
// snapshot lines (regular or "unavailable") have none, replies to
// "capture-snapshot" carry "kind":"capture-snapshot". Lines that are not JSON
// objects, and replies of other kinds, are `other`.
struct SamplerLine {
    enum class Kind { snapshot, captureReply, other };
    Kind kind = Kind::other;
    Json value;
};

SamplerLine classifySamplerLine(std::string_view text);

// A "capture-snapshot" reply: an image (still Base64) or an error word.
struct CaptureReply {
    std::string requestId;
    std::optional<std::string> image;
    std::optional<std::uint32_t> displayID;
    std::optional<double> observedAtMS;
    std::optional<std::string> error;
};

// Nothing unless the record has a string "requestId" and either a string
// "image" or a string "error".
std::optional<CaptureReply> captureReply(const Json& record);

}  // namespace scene::view
