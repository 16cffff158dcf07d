#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/records.h"
#include "platform/rect.h"

namespace scene {

// A candidate support: where a segment should lie on its owner (a window or a
// Dock shelf), before pixels have confirmed it. `from` <= `to` run along the
// segment, `fixed` lies across it; global points.
struct SupportProposal {
    std::string owner{};  // the owner record's "id"
    Rect rect{};          // the owner's bounds when proposed
    std::string side{};   // "top" and "bottom" are horizontal, anything else vertical
    double from = 0;
    double to = 0;
    double fixed = 0;
    // The source edge's id, for proposals read off visual edges. It widens the
    // line search to `tolerance` and stands in for the coordinates in the key.
    std::optional<std::string> identity{};
    double tolerance = 2.0;

    bool horizontal() const;
    // Names the candidate across passes; includes the owner's bounds, so moving
    // or resizing the owner starts a new history.
    std::string confirmationKey() const;
};

// The rectangle of a scene record (window, Dock, visual or support record): its
// "x", "y", "width" and "height", each any kind of number. Nothing when one is
// missing or not a number. Extents keep their sign, so a record stored with a
// negative width compares as stored.
std::optional<Rect> supportRect(const Json& record);

// One "top" proposal per visual edge, lying on the edge and owned by the window
// it was seen in. Edges whose window is not among `windows` give nothing.
std::vector<SupportProposal> composedSupportProposals(const Records& windows, const Records& visuals);

}  // namespace scene
