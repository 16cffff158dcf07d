#pragma once

#include <string_view>

namespace scene::simulated {

// The built-in demo desktop, the same text as examples/scenes/demo.json.
std::string_view demoSceneText();

}  // namespace scene::simulated
