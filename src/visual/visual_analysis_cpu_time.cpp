#include "visual/visual_analysis_cpu_time.h"

#include <cmath>

namespace scene {

double visualAnalysisCPUTime(const Clock& clock) {
    const double seconds = clock.threadCPUSeconds();
    if (!std::isfinite(seconds) || seconds < 0) return clock.uptime();
    return seconds;
}

}  // namespace scene
