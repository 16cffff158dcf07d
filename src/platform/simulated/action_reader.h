#pragma once

#include <string>

#include "platform/records.h"
#include "platform/simulated/scene_action.h"

namespace scene::simulated::scene_read {

inline constexpr std::string_view kDefaultStreamErrorDomain = "SCStreamErrorDomain";

// One timeline entry: `do`, then the keys that action takes, then `at`
// (required only when `timed`; an untimed entry may carry one and it means
// nothing). Throws SceneError.
TimedAction readAction(const Json& entry, const std::string& path, bool timed);

}  // namespace scene::simulated::scene_read
