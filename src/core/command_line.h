#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process_environment.h"

namespace scene {

// What the entry takes from the command line. Arguments are matched whole;
// order does not matter and anything unrecognised is ignored, though options
// nobody knows are collected so that they can be named (a misspelt flag must
// not pass unnoticed, while a companion may pass flags of newer versions).
struct CommandLine {
    std::set<std::int32_t> excludedPIDs;  // the companion's own processes
    bool permissionStatus = false;
    bool requestScreenPermission = false;
    bool once = false;
    bool visual = false;
    bool controls = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> unknownOptions;  // arguments beginning "--" that no part of the program reads
};

// Every option some part of the program reads.
std::span<const std::string_view> knownOptions();

// Decimal Int32 with an optional leading sign, digits only, in range.
std::optional<std::int32_t> parseInt32(std::string_view text);

// Argument 0 (the program path) is skipped. The path after "--scene" and the
// name after "--platform" choose the desktop and are never taken as process ids.
CommandLine parseCommandLine(const Arguments& arguments);

}  // namespace scene
