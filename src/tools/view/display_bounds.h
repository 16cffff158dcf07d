#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/process_environment.h"
#include "platform/records.h"
#include "platform/rect.h"

namespace scene::view {

struct SceneDisplay {
    std::uint32_t id = 0;
    Rect bounds;
};

// The displays of the desktop the simulated sampler will run: the scene file
// after "--scene" among its arguments, else SCENE_SAMPLER_SCENE, else the
// built-in demo desktop (the rules the sampler itself follows). Empty when the
// file cannot be read; the sampler then refuses to start and says why.
std::vector<SceneDisplay> sceneDisplays(const std::vector<std::string>& samplerArguments,
                                        const Environment& environment);

// Everything that can tell which part of the desktop a picture shows.
struct DisplayClues {
    std::optional<Rect> given;               // --display-bounds
    std::optional<Rect> frameScreenRect;     // the snapshot's captureMetrics.frameScreenRect
    std::optional<std::uint32_t> displayID;  // the frame's display, else captureSelectedDisplay
    std::vector<SceneDisplay> sceneDisplays;
    std::optional<Size> frameSize;  // pixel size of the JPEG frame
};

// The snapshot's own word wins over the scene's, since it describes the very
// frame shown: the option, the frame's screen rectangle, the scene display of
// that id (the first one without an id), and finally the origin with the
// frame's size (the sampler captures at one pixel per point) or the first scene
// display.
Rect displayBounds(const DisplayClues& clues);

// The snapshot's captureMetrics.frameScreenRect when it is a non-empty rect.
std::optional<Rect> frameScreenRect(const Json& snapshot);
// The snapshot's captureSelectedDisplay.
std::optional<std::uint32_t> selectedDisplay(const Json& snapshot);

}  // namespace scene::view
