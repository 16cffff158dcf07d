#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace scene::view {

// The inverse of the sampler's encoder: standard alphabet, padded to a multiple
// of four, no line breaks or spaces. Anything else gives nothing, so text that
// decodes is also safe to copy verbatim into markup.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

}  // namespace scene::view
