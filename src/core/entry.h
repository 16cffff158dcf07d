#pragma once

#include "platform/platform.h"
#include "platform/process_environment.h"
#include "platform/runtime.h"

namespace scene {

inline constexpr int kExitRequestScreenPermission = 64;

// The process entry: answers the one-shot queries, or runs one pass ("--once"),
// or samples continuously until the parent goes away, input ends or "quit".
// Returns the exit status.
int runSceneSampler(const Arguments& arguments, const Environment& environment, Platform& platform,
                    Runtime& runtime);

}  // namespace scene
