#include "selected_support/selected_contour_position.h"

#include <cmath>

#include "platform/json_read.h"
#include "support/support_proposal.h"

namespace scene {
namespace {

constexpr const char* kContourSource = "selected-contour";
// Below this a size change is rounding in the window server, not a resize.
constexpr double kSizeSlack = 0.75;

}  // namespace

std::optional<Json> positionedSelectedContour(const Json& record, const std::unordered_map<std::string, Rect>& owners) {
    if (json_read::string(record, "source") != kContourSource) return std::nullopt;
    const auto ownerId = json_read::string(record, "ownerId");
    if (!ownerId) return std::nullopt;
    const auto owner = owners.find(*ownerId);
    if (owner == owners.end()) return std::nullopt;
    const Rect& current = owner->second;

    const Json* bounds = json_read::member(record, "ownerBounds");
    if (bounds == nullptr || !bounds->is_object()) return std::nullopt;
    const auto original = supportRect(*bounds);
    if (!original) return std::nullopt;
    // A resized owner has new edges; the old contour no longer describes it.
    // Written as "within the slack" so that a NaN size counts as resized.
    if (!(std::abs(current.absWidth() - original->absWidth()) < kSizeSlack) ||
        !(std::abs(current.absHeight() - original->absHeight()) < kSizeSlack))
        return std::nullopt;

    const auto side = json_read::string(record, "side");
    const auto from = json_read::strictDouble(record, "from");
    const auto to = json_read::strictDouble(record, "to");
    const auto fixed = json_read::strictDouble(record, "fixed");
    if (!side || !from || !to || !fixed) return std::nullopt;

    const double dx = current.minX() - original->minX();
    const double dy = current.minY() - original->minY();
    const bool horizontal = *side == "top" || *side == "bottom";
    const double along = horizontal ? dx : dy;
    const double across = horizontal ? dy : dx;

    Json moved = record;
    moved["from"] = *from + along;
    moved["to"] = *to + along;
    moved["fixed"] = *fixed + across;
    moved["ownerBounds"] = Json{
        {"x", current.minX()}, {"y", current.minY()}, {"width", current.absWidth()}, {"height", current.absHeight()}};
    return moved;
}

}  // namespace scene
