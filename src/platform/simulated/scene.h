#pragma once

#include <optional>
#include <vector>

#include "platform/simulated/desktop_model.h"
#include "platform/simulated/scene_action.h"

namespace scene::simulated {

// A scene file, read and validated: the desktop at the start and the timeline
// that changes it. A plain value.
struct Scene {
    DesktopModel desktop;
    std::vector<TimedAction> timeline;  // file order
    std::optional<double> repeat;       // period of the timeline's repetition
};

}  // namespace scene::simulated
