#include "platform/simulated/window_model.h"

namespace scene::simulated {

std::string WindowRef::text() const { return std::to_string(pid) + ":" + std::to_string(number); }

Json WindowModel::windowListEntry() const {
    if (raw) return *raw;
    // The server hands out bounds and alpha as floating-point numbers whatever
    // the scene wrote; keep that kind so strict double reads see what they would.
    Json entry = {
        {"kCGWindowOwnerPID", pid},
        {"kCGWindowNumber", number},
        {"kCGWindowLayer", layer},
        {"kCGWindowBounds", {{"X", bounds.x}, {"Y", bounds.y}, {"Width", bounds.width}, {"Height", bounds.height}}},
    };
    if (alpha) entry["kCGWindowAlpha"] = *alpha;
    return entry;
}

}  // namespace scene::simulated
