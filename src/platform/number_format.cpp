#include "platform/number_format.h"

#include <charconv>
#include <cmath>

namespace scene {

std::string identityNumber(double value) {
    // Plain decimals between 1e-4 and 2^53, exponent form outside, each the
    // shortest text that reads back as `value`. Left to itself, to_chars would
    // pick whichever is shorter and write 200000.0 as "2e+05".
    const double magnitude = std::fabs(value);
    const bool plain = magnitude == 0 || (magnitude >= 1e-4 && magnitude < 0x1p53);
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      plain ? std::chars_format::fixed : std::chars_format::scientific);
    std::string text(buffer, result.ptr);
    if (plain && text.find('.') == std::string::npos) text += ".0";
    return text;
}

}  // namespace scene
