#pragma once

#include <string>

#include "tools/view/view_options.h"

namespace scene::view {

// The scene-sampler the viewer starts: --sampler, else the one beside this
// executable (where the build and the installation put it), else whichever
// the search path finds.
std::string samplerPath(const ViewOptions& options);

}  // namespace scene::view
