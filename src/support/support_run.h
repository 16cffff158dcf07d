#pragma once

namespace scene {

// A stretch of a verified pixel line: `start` and `end` run along the
// proposal's direction, `line` lies across it. Global points, or relative to the
// owner's origin where a history keeps them.
struct SupportRun {
    double start = 0;
    double end = 0;
    double line = 0;
    bool operator==(const SupportRun&) const = default;
};

}  // namespace scene
