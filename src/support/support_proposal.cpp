#include "support/support_proposal.h"

#include "platform/json_read.h"

namespace scene {

std::optional<Rect> supportRect(const Json& record) { return json_read::recordRect(record); }

}  // namespace scene
