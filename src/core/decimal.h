#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace scene {

// A decimal integer as the command line and the command protocol write it: an
// optional "+" or "-", then digits only. The magnitude is kept apart from the
// sign so each caller can apply its own range.
struct Decimal {
    bool negative = false;
    std::uint64_t magnitude = 0;
};

// Nothing for empty text, any other character, or a magnitude past 64 bits.
std::optional<Decimal> parseDecimal(std::string_view text);

}  // namespace scene
