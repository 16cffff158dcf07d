#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace scene {

// The command line (argument 0 is the program path) and the environment, as the
// process was started with them.
using Arguments = std::vector<std::string>;
using Environment = std::map<std::string, std::string, std::less<>>;

}  // namespace scene
