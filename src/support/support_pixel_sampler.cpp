#include "support/support_pixel_sampler.h"

#include <algorithm>
#include <cmath>

#include "capture_access/native_capture_access.h"
#include "platform/json_read.h"
#include "support/support_proposal.h"

namespace scene {
namespace {

constexpr const char* kOwnerIdKey = "ownerId";
constexpr const char* kOwnerBoundsKey = "ownerBounds";
constexpr const char* kUptimeKey = "uptime";
constexpr const char* kAgeKey = "ageMS";
constexpr const char* kIdKey = "id";
constexpr const char* kUnsupportedOS = "unsupported-os";

// Window servers report fractional bounds that jitter below a point while a
// window sits still; anything under this counts as the same place.
constexpr double kOwnerTolerance = 0.75;

void collectOwners(const Records& records, SupportOwners& owners) {
    for (const Json& record : records) {
        const auto id = json_read::string(record, kIdKey);
        const auto rect = supportRect(record);
        if (id && rect) owners[*id] = *rect;
    }
}

}  // namespace

SupportOwners supportOwners(const Records& windows, const Records& docks) {
    // Every pass rebuilds this from up to 1024 windows: hashed, not ordered.
    SupportOwners owners;
    owners.reserve(windows.size() + docks.size());
    collectOwners(windows, owners);
    collectOwners(docks, owners);
    return owners;
}

SupportPixelSampler::SupportPixelSampler(const Clock& clock, double lifetime) : lifetime(lifetime), clock_(clock) {}

void SupportPixelSampler::reset(const std::string& status) {
    generation += 1;
    latest.clear();
    latestAt = 0;
    this->status = status;
    grayPixels = 0;
    grayRegions = 0;
    candidateCount = 0;
}

Records SupportPixelSampler::fresh() const {
    const double now = clock_.uptime();
    Records result;
    for (const Json& record : latest) {
        const double uptime = json_read::looseDouble(record, kUptimeKey).value_or(0);
        if (!(lifetime > now - uptime) || !ownerMatches(record)) continue;
        Json copy = record;
        copy.erase(kUptimeKey);
        copy[kAgeKey] = (now - uptime) * 1000;
        result.push_back(std::move(copy));
    }
    return result;
}

bool SupportPixelSampler::ownerMatches(const Json& record) const {
    const auto ownerId = json_read::string(record, kOwnerIdKey);
    if (!ownerId) return false;
    const auto owner = owners.find(*ownerId);
    if (owner == owners.end()) return false;
    const Json* boundsValue = json_read::member(record, kOwnerBoundsKey);
    if (boundsValue == nullptr || !boundsValue->is_object()) return false;
    const auto bounds = supportRect(*boundsValue);
    if (!bounds) return false;
    const Rect& current = owner->second;
    return std::fabs(bounds->minX() - current.minX()) < kOwnerTolerance &&
           std::fabs(bounds->minY() - current.minY()) < kOwnerTolerance &&
           std::fabs(bounds->absWidth() - current.absWidth()) < kOwnerTolerance &&
           std::fabs(bounds->absHeight() - current.absHeight()) < kOwnerTolerance;
}

void SupportPixelSampler::updateOwners(const Records& windows, const Records& docks) {
    updateOwners(supportOwners(windows, docks));
}

void SupportPixelSampler::updateOwners(SupportOwners current) {
    owners = std::move(current);
    std::erase_if(latest, [this](const Json& record) { return !ownerMatches(record); });
}

void SupportPixelSampler::sample(const Records&, const Records&, const Records&, const std::set<std::int32_t>&,
                                 const std::optional<std::string>&, const Records&, const NativeCaptureAccess& broker,
                                 SystemVersion system) {
    if (!system.atLeast(14, 0)) {
        reset(kUnsupportedOS);
        return;
    }
    if (!broker.available()) reset(broker.status());
}

}  // namespace scene
