#pragma once

#include <cstdio>
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

// Answers what the command line asks that needs no desktop at all, before
// any desktop is opened, so that a bad scene or an absent X server cannot
// change the answer: the usage ("--help") and the version ("--version") on
// `out`, and "--request-screen-permission" (unless "--permission-status",
// which comes first, is given too). Names every unknown option on `err`.
// Returns the exit status when the process ends here.
std::optional<int> answerWithoutDesktop(const Arguments& arguments, std::FILE* out, std::FILE* err);

}  // namespace scene
