#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "platform/records.h"
#include "support/support_proposal.h"
#include "support/support_run.h"

namespace scene {

// Candidates checked in each selected frame: the visual-edge proposals, then
// the four edges of every ordinary window (layers 0 to 8, at least 180 x 80
// points), then three shelf lines near the top of every Dock item at least 96
// points wide.
std::vector<SupportProposal> selectedContourProposals(const Records& windows, const Records& docks,
                                                      const Records& visuals);

// Keeps the plausible runs, one list per proposal: a window's outline counts
// only once both a horizontal and a vertical edge of it were found, and a Dock
// item keeps only the long runs on its single best shelf line. Visual-edge
// proposals keep their runs. `dockOwners` are the ids of the Dock items.
std::vector<std::vector<SupportRun>> selectedPairedContours(const std::vector<SupportProposal>& proposals,
                                                            const std::vector<std::vector<SupportRun>>& runs,
                                                            const std::unordered_set<std::string>& dockOwners);

}  // namespace scene
