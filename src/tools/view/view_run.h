#pragma once

#include <ostream>

#include "platform/process_environment.h"
#include "tools/view/view_options.h"

namespace scene::view {

// The viewer: starts scene-sampler as its child, takes the pictures the options
// ask for and quits the child. `interrupt` is a descriptor that becomes
// readable when the user asks the viewer to stop (a signal descriptor for
// SIGINT and SIGTERM), or -1. Problems go to `errors`, one line each. Returns
// the exit status: 0 when every picture was written and the child quit when
// asked.
int runSceneView(const ViewOptions& options, const Environment& environment, int interrupt, std::ostream& errors);

}  // namespace scene::view
