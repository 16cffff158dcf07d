#include "platform/simulated/process_facts.h"

#include <unistd.h>

namespace scene::simulated {

ProcessFacts ProcessFacts::current() {
    return {static_cast<std::int32_t>(::getpid()), [] { return static_cast<std::int32_t>(::getppid()); }};
}

}  // namespace scene::simulated
