#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace scene {

// Standard alphabet, padded, no line breaks.
std::string base64Encode(std::span<const std::uint8_t> bytes);

}  // namespace scene
