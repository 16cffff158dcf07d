#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

#include "platform/records.h"
#include "platform/rect.h"
#include "platform/runtime.h"
#include "platform/workspace.h"

namespace scene {

class NativeCaptureAccess;

using SupportOwners = std::unordered_map<std::string, Rect>;

// Record id -> bounds of the window records followed by the Dock records that
// have both: a shelf and a window sharing an id resolve to the shelf.
SupportOwners supportOwners(const Records& windows, const Records& docks);

// Published support records and the owner bounds they are checked against:
// records age out after `lifetime` and are withdrawn as soon as the window or
// Dock shelf carrying them moves or resizes. The pass's own instance only keeps
// a status in one-shot runs; the window top and selected support samplers use
// one each as their store. Main queue only.
class SupportPixelSampler {
public:
    explicit SupportPixelSampler(const Clock& clock, double lifetime = 0.75);

    int generation = 0;
    Records latest;
    double latestAt = 0;  // uptime of the observation behind `latest`
    std::string status = "starting";
    double captureMS = 0;
    double analysisMS = 0;
    int grayPixels = 0;
    int grayRegions = 0;
    int candidateCount = 0;
    SupportOwners owners;   // record id -> bounds in the latest pass
    const double lifetime;  // seconds a published record stays fresh

    // Starts over: drops what was published and zeroes the analysis counters.
    // Timings and owners survive, they describe the last work and the last pass.
    void reset(const std::string& status);

    // Copies of the records still young and still on their owners, with their
    // age ("ageMS") in place of the observation time ("uptime").
    Records fresh() const;

    bool ownerMatches(const Json& record) const;

    // Takes the owners of the latest pass and withdraws the records whose owner
    // is gone or has moved.
    void updateOwners(const Records& windows, const Records& docks);
    void updateOwners(SupportOwners current);

    // The one-shot pass's call. Capture is never granted there, so this only
    // settles the status word; the scene arguments are accepted for the caller's
    // sake and not used.
    void sample(const Records& windows, const Records& docks, const Records& visuals,
                const std::set<std::int32_t>& excluded, const std::optional<std::string>& anchor,
                const Records& ownWindows, const NativeCaptureAccess& broker, SystemVersion system);

private:
    const Clock& clock_;
};

}  // namespace scene
