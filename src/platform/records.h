#pragma once

#include <vector>

#include <nlohmann/json.hpp>

namespace scene {

// Records (window, dock, control, input, visual and support records, metrics,
// events) are JSON objects; lists of them travel as vectors.
using Json = nlohmann::json;
using Records = std::vector<Json>;

}  // namespace scene
