#include "selected_capture/selected_frame_rect.h"

#include "platform/json_read.h"

namespace scene {

std::optional<Rect> selectedFrameRect(const Json* value) {
    if (value == nullptr) return std::nullopt;
    if (value->is_object()) return json_read::windowBounds(*value);
    if (value->is_array() && value->size() == 4) {
        double parts[4];
        for (std::size_t i = 0; i < 4; ++i) {
            const Json& part = (*value)[i];
            if (!part.is_number()) return std::nullopt;
            parts[i] = part.get<double>();
        }
        return Rect{parts[0], parts[1], parts[2], parts[3]};
    }
    return std::nullopt;
}

}  // namespace scene
