#include "platform/number_format.h"

#include <charconv>
#include <cmath>

namespace scene {

std::string identityNumber(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    if (!std::isfinite(value)) return text;
    // to_chars picks exponent form for very large or small magnitudes; the
    // identity keeps plain decimal digits in the usual range and only adds the
    // fraction where the shortest form has none.
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

}  // namespace scene
