#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/records.h"
#include "platform/runtime.h"
#include "support/support_pixel_sampler.h"

namespace scene {

class NativeCaptureAccess;

// Window-top sampling's status word, its counters and its store of support
// records. It is only ever asked to sample in one-shot passes, where capture is
// never granted, so it captures nothing: what shows is the status, the counters
// at their resting values and an empty store. Main queue only.
class WindowTopSampler {
public:
    explicit WindowTopSampler(const Clock& clock);

    SupportPixelSampler storage;
    int generation = 0;
    std::string status = "starting";
    double captureMS = 0;
    int targetCount = 0;
    std::vector<std::string> pendingOwners;
    std::string dockReadStatus = "starting";
    double dockReadAt = 0;  // uptime; never read, so the snapshot's age is the uptime
    double dockReadMS = 0;
    int dockFailures = 0;

    void reset(const std::string& status);
    Records fresh() const;
    // Settles the status from the broker; the scene arguments are the pass's and
    // are not needed while capture stays unavailable.
    void sample(const Records& windows, const Records& docks, const std::optional<std::string>& anchor,
                const NativeCaptureAccess& broker);
};

}  // namespace scene
