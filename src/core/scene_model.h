#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/records.h"
#include "platform/workspace.h"

namespace scene {

// The focused window among the front application's records: the window the
// accessibility walk named, else the first normal-layer window wider than 80
// points, else the first window below layer 9.
std::optional<std::string> focusCandidate(const Records& records, std::int32_t frontPID,
                                          const std::optional<std::string>& axFocusedID);

// Whether the login session may be captured now: a session on the console, not
// locked, with a front application that is not the login window.
bool isSessionSafe(const std::optional<Json>& session, const std::optional<RunningApplication>& frontmost);

// "revision:frontPID:focusedID", with "none" for no focused window.
std::string sceneKey(std::int64_t revision, std::int32_t frontPID, const std::optional<std::string>& focusedID);

}  // namespace scene
