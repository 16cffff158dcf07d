#pragma once

#include <algorithm>
#include <chrono>
#include <optional>
#include <ostream>
#include <string>

#include "tools/view/sampler_child.h"

namespace scene::view {

// How long the viewer waits for a sampler asked to quit, or ending on its own.
inline constexpr std::chrono::milliseconds kQuitPatience{2000};
// What the viewer puts before each of its lines on standard error.
inline constexpr const char* kViewPrefix = "scene-view: ";

// "status N" for an exit status, "signal N" for minus a signal.
std::string statusText(int status);

// Quits the child; a child that had to be forced, or ended badly, is told on
// `errors` and turns a success (`status` 0) into a failure.
int quitChild(SamplerChild& child, int status, std::ostream& errors);

// Waits for a child whose output ended before it was asked to quit and tells
// `errors` how it ended; always a failure.
int childEndedEarly(SamplerChild& child, std::ostream& errors);

// Milliseconds from `now` to `until` for poll(): none when it has passed, at
// most a minute.
template <typename TimePoint>
int waitMilliseconds(TimePoint now, TimePoint until) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60'000));
}

}  // namespace scene::view
