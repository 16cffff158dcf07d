#pragma once

#include <string>

namespace scene {

// Doubles in identity strings (confirmation keys, history keys): the shortest
// text that reads back as the same double, always with a fractional part
// ("640.0", "12.5", "-0.25").
std::string identityNumber(double value);

}  // namespace scene
