#include "visual/visual_edge_tracker.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>

namespace scene {
namespace {

constexpr const char* kIdPrefix = "v";

constexpr int kFingerprintDistance = 70;  // summed over 32 samples of 0-31
constexpr double kVerticalDrift = 3;
constexpr double kHorizontalDrift = 6;
constexpr double kMinimumOverlap = 0.88;

int fingerprintDistance(const std::vector<int>& a, const std::vector<int>& b) {
    const std::size_t shared = std::min(a.size(), b.size());
    int sum = 0;
    for (std::size_t i = 0; i < shared; ++i) sum += std::abs(a[i] - b[i]);
    return sum;
}

bool matches(const VisualEdge& old, const VisualEdge& edge) {
    const double overlap = std::max(0.0, std::min(old.x + old.width, edge.x + edge.width) - std::max(old.x, edge.x));
    return fingerprintDistance(old.fingerprint, edge.fingerprint) < kFingerprintDistance &&
           std::abs(old.y - edge.y) < kVerticalDrift && std::abs(old.x - edge.x) < kHorizontalDrift &&
           overlap / std::max(old.width, edge.width) > kMinimumOverlap && old.platform == edge.platform;
}

}  // namespace

void VisualEdgeTracker::reset() { tracks.clear(); }

std::vector<VisualTrack> VisualEdgeTracker::update(const std::vector<VisualEdge>& edges) {
    std::vector<VisualTrack> pool = std::move(tracks);
    std::vector<VisualTrack> next;
    next.reserve(edges.size());
    for (const VisualEdge& edge : edges) {
        // First acceptable match, not the best: earlier (higher-ranked) edges
        // claim first, and a track can be claimed once.
        const auto match =
            std::find_if(pool.begin(), pool.end(), [&](const VisualTrack& track) { return matches(track.edge, edge); });
        if (match != pool.end()) {
            next.push_back(VisualTrack{edge, std::move(match->id), match->sightings + 1});
            pool.erase(match);
        } else {
            serial += 1;
            next.push_back(VisualTrack{edge, kIdPrefix + std::to_string(serial), 1});
        }
    }
    tracks = std::move(next);

    std::vector<VisualTrack> ready;
    std::copy_if(tracks.begin(), tracks.end(), std::back_inserter(ready),
                 [](const VisualTrack& track) { return track.sightings > 1; });
    return ready;
}

}  // namespace scene
