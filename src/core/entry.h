#pragma once

#include <optional>

#include "platform/platform.h"
#include "platform/process_environment.h"
#include "platform/runtime.h"

namespace scene {

inline constexpr int kExitRequestScreenPermission = 64;

// The process entry: answers the one-shot queries, or runs one pass ("--once"),
// or samples continuously until the parent goes away, input ends or "quit".
// Returns the exit status.
int runSceneSampler(const Arguments& arguments, const Environment& environment, Platform& platform, Runtime& runtime);

// The exit status of a run that needs no desktop at all: "--request-screen-
// permission" (unless "--permission-status", which comes first, is given
// too). Asked before any desktop is opened, so that a bad scene or an absent
// X server cannot change the answer.
std::optional<int> exitWithoutDesktop(const Arguments& arguments);

}  // namespace scene
