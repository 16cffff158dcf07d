#pragma once

#include <string>

namespace scene::simulated {

// Why a scene text (or one timeline action) was refused: the JSON path of the
// offending value, such as "timeline[3].do" (empty for the document itself),
// and the problem in words. A plain value.
struct SceneError {
    std::string path;
    std::string problem;

    // "<path>: <problem>", with "$" standing for the document itself.
    std::string describe() const { return (path.empty() ? std::string("$") : path) + ": " + problem; }
};

}  // namespace scene::simulated
