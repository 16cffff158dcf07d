#pragma once

#include <string>

namespace scene {

// An error reported by an operating-system service: the service's domain and
// its integer code. Failures cross component boundaries only as values.
struct PlatformError {
    std::string domain;
    long code = 0;
    bool operator==(const PlatformError&) const = default;
};

}  // namespace scene
