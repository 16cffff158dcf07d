#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/image.h"

namespace scene {

// JPEG at quality 85 from a BGRA image; nothing when encoding fails.
std::optional<std::vector<std::uint8_t>> encodeJPEG(const Image& image, int quality = 85);

}  // namespace scene
