#pragma once

#include <optional>
#include <string_view>

#include "platform/records.h"
#include "platform/simulated/scene.h"
#include "platform/simulated/scene_action.h"
#include "platform/simulated/scene_error.h"

namespace scene::simulated {

// The outcome of reading scene text: a value, or the first problem found.
template <typename T>
struct Parsed {
    std::optional<T> value;
    SceneError error;  // meaningful only without a value
};

// Reads and validates a whole scene file's text. Never throws.
Parsed<Scene> parseScene(std::string_view text);
// Reads and validates one timeline entry; its `at` is optional and ignored.
// Paths in the error are relative to the entry ("do", "window"). Never throws.
Parsed<SceneAction> parseAction(const Json& entry);

}  // namespace scene::simulated
