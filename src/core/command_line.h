#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string_view>

#include "platform/process_environment.h"

namespace scene {

// What the entry takes from the command line. Arguments are matched whole;
// order does not matter and anything unrecognised is ignored.
struct CommandLine {
    std::set<std::int32_t> excludedPIDs;  // the companion's own processes
    bool permissionStatus = false;
    bool requestScreenPermission = false;
    bool once = false;
    bool visual = false;
    bool controls = false;
};

// Decimal Int32 with an optional leading sign, digits only, in range.
std::optional<std::int32_t> parseInt32(std::string_view text);

// Argument 0 (the program path) is skipped. The path after "--scene" and the
// name after "--platform" choose the desktop and are never taken as process ids.
CommandLine parseCommandLine(const Arguments& arguments);

}  // namespace scene
