#pragma once

#include <cstdint>
#include <functional>

namespace scene::simulated {

// The process ids the workspace reports for this process. The parent is asked
// each time: it changes when the parent dies and the process is adopted.
struct ProcessFacts {
    std::int32_t processIdentifier = 0;
    std::function<std::int32_t()> parentProcessIdentifier;

    // This process, as the operating system knows it.
    static ProcessFacts current();
};

}  // namespace scene::simulated
