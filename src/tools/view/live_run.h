#pragma once

#include <ostream>

#include "platform/process_environment.h"
#include "tools/view/view_options.h"

namespace scene::view {

// The live view: starts scene-sampler as its child, serves the page on
// 127.0.0.1 (its address goes to `out` as one line, "http://127.0.0.1:PORT/")
// and streams every snapshot to the browsers watching, at most thirty a
// second, with a still of the selected display at most twice a second while
// anyone watches. Runs until `interrupt` (as for runSceneView) becomes readable,
// then quits the child: status 0. A server that cannot listen, or a child that
// cannot start or ends by itself, is a line on `errors` and status 1.
int runLiveView(const ViewOptions& options, const Environment& environment, int interrupt, std::ostream& out,
                std::ostream& errors);

}  // namespace scene::view
