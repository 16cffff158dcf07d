#pragma once

#include "platform/runtime.h"

namespace scene {

// CPU seconds used so far by the calling thread, for bracketing work that runs
// entirely on one thread. Falls back to uptime when the thread clock gives no
// usable reading, so a difference of two readings is never nonsense.
double visualAnalysisCPUTime(const Clock& clock);

}  // namespace scene
