#include "core/decimal.h"

#include <limits>

namespace scene {

std::optional<Decimal> parseDecimal(std::string_view text) {
    Decimal decimal;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        decimal.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (decimal.magnitude > (kMax - digit) / 10) return std::nullopt;
        decimal.magnitude = decimal.magnitude * 10 + digit;
    }
    return decimal;
}

}  // namespace scene
