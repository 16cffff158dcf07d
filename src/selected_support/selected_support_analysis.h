#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/image.h"
#include "platform/records.h"
#include "platform/rect.h"
#include "support/support_proposal.h"
#include "support/support_run.h"

namespace scene {

// What one analysed frame left for the next: per history key, the runs found
// (relative to the owner's origin) and when that frame was observed.
struct SupportHistoryEntry {
    std::vector<SupportRun> runs;
    double observed = 0;
};
using SupportHistory = std::unordered_map<std::string, SupportHistoryEntry>;

// A frame of the selected display, as handed to the analysis.
struct SelectedFrame {
    Image image;
    Rect bounds;  // global points the image covers
    std::uint32_t displayID = 0;
    double observed = 0;  // uptime of the capture
};

struct SelectedSupportAnalysis {
    Records records;     // supports confirmed by this frame and the one before
    int grayPixels = 0;  // pixels of the tiles
    // Of the tiles, the pixels actually turned to gray: only lines that can
    // hold a run are converted in full.
    std::size_t convertedPixels = 0;
    int grayRegions = 0;
    int candidateCount = 0;
    int pairedOwners = 0;  // owners of confirmed contours (visual edges not counted)
    int rawRuns = 0;       // runs before contour filtering
    int dockRuns = 0;      // of those, on Dock items
};

// Names a candidate's history. Proposals read off visual edges use their
// confirmation key; geometric ones leave the owner's position out, so a contour
// keeps its history while its window is dragged.
std::string supportHistoryKey(const SupportProposal& proposal);

// Verifies the proposals in the frame: tiles it around them, converts (parts of)
// the tiles to gray, finds the runs, keeps plausible contours and confirms each run
// against the previous frame's history, which it then replaces. `wallMS` and
// `uptime` are the clocks at analysis time, for the records' "observedAtMS".
SelectedSupportAnalysis analyseSelectedFrame(const SelectedFrame& frame, const std::vector<SupportProposal>& proposals,
                                             const std::unordered_set<std::string>& dockOwners, SupportHistory& history,
                                             double wallMS, double uptime);

}  // namespace scene
