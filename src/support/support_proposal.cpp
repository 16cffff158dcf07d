#include "support/support_proposal.h"

#include "platform/json_read.h"
#include "platform/number_format.h"

namespace scene {
namespace {

constexpr double kDefaultTolerance = 2.0;

const Json* firstWindowWithId(const Records& windows, const std::string& id) {
    for (const Json& window : windows) {
        const Json* windowId = json_read::member(window, "id");
        if (windowId && windowId->is_string() && windowId->get_ref<const std::string&>() == id) return &window;
    }
    return nullptr;
}

}  // namespace

bool SupportProposal::horizontal() const { return side == "top" || side == "bottom"; }

std::string SupportProposal::confirmationKey() const {
    std::string key = owner + ':' + side + ':';
    if (identity) {
        key += *identity;
    } else {
        key += identityNumber(fixed) + ':' + identityNumber(from) + ':' + identityNumber(to);
    }
    key += ':' + identityNumber(rect.minX()) + ':' + identityNumber(rect.minY()) + ':' +
           identityNumber(rect.absWidth()) + ':' + identityNumber(rect.absHeight());
    return key;
}

std::optional<Rect> supportRect(const Json& record) { return json_read::recordRect(record); }

std::vector<SupportProposal> composedSupportProposals(const Records& windows, const Records& visuals) {
    std::vector<SupportProposal> proposals;
    for (const Json& visual : visuals) {
        const auto edge = supportRect(visual);
        if (!edge) continue;
        const auto id = json_read::string(visual, "id");
        const auto windowId = json_read::string(visual, "windowId");
        if (!id || !windowId) continue;
        const Json* window = firstWindowWithId(windows, *windowId);
        if (window == nullptr) continue;
        const auto ownerRect = supportRect(*window);
        if (!ownerRect) continue;
        proposals.push_back(SupportProposal{
            .owner = *windowId,
            .rect = *ownerRect,
            .side = "top",
            .from = edge->minX(),
            .to = edge->maxX(),
            .fixed = edge->minY(),
            .identity = *id,
            .tolerance = json_read::looseDouble(visual, "sampleTolerance").value_or(kDefaultTolerance),
        });
    }
    return proposals;
}

}  // namespace scene
