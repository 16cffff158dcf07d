#pragma once

#include <optional>
#include <string>

#include "platform/process_environment.h"

namespace scene {

// The capture pause state that the companion leaves in a small file across our
// restarts. Read once, when the broker is built; the file belongs to the
// companion, so nothing here ever writes or removes it. Owned by the broker and
// used on the main queue only.
class CaptureCircuit {
public:
    // Reads the state file at `path`; no path means capture is never suspended
    // by a file.
    explicit CaptureCircuit(std::optional<std::string> path);

    // The state file's location: the argument after the first "--capture-state",
    // else the environment's override, else none. A trailing "--capture-state"
    // with nothing after it still decides: no file, and the environment is not
    // consulted, so a broken launch never silently picks up a stale override.
    static std::optional<std::string> resolvePath(const Arguments& arguments, const Environment& environment);

    bool blocked = false;               // a state file exists
    std::optional<std::string> reason;  // why capture stands suspended
    std::optional<std::string> stateURL;  // file-system path, used as given
};

}  // namespace scene
