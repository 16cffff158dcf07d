#pragma once

#include "platform/simulated/desktop_effects.h"
#include "platform/simulated/desktop_model.h"
#include "platform/simulated/scene_action.h"

namespace scene::simulated {

// Changes the model as the action says and returns what the change announces.
// Targets that do not exist (a window or application that is gone) make the
// action do nothing: timelines outlive what they name. Never throws.
DesktopEffects applyAction(DesktopModel& desktop, const SceneAction& action);

}  // namespace scene::simulated
