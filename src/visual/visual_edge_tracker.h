#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "visual/visual_edge.h"

namespace scene {

// An edge with the identity it carries across analyses.
struct VisualTrack {
    VisualEdge edge;    // as seen in the latest analysis
    std::string id;     // "v" and the serial it was born with
    int sightings = 1;  // consecutive analyses that matched it, counting the first

    bool operator==(const VisualTrack&) const = default;
};

// Gives edges stable identities from one analysis to the next and holds back
// any edge not seen in two consecutive analyses, so the companion is never
// offered a line that flickered into a single frame. Owned by the visual
// sampler and used only on its serial queue.
class VisualEdgeTracker {
public:
    std::vector<VisualTrack> tracks;  // the latest analysis, in its edges' order
    // Last serial handed out; never reused. 64 bits: a flickering scene can
    // mint hundreds of serials a second for the life of the process.
    std::uint64_t serial = 0;

    // Forgets the tracks but not the serial, so identities never come back.
    void reset();
    // Matches `edges` (in ranked order) greedily against the previous tracks
    // and returns the tracks seen at least twice in a row.
    std::vector<VisualTrack> update(const std::vector<VisualEdge>& edges);
};

}  // namespace scene
