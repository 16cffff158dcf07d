#include "platform/accessibility.h"

#include <algorithm>

namespace scene {

AXResult<std::vector<Element>> listSlice(AXResult<AXValue> read, int index, int maxValues) {
    if (index < 0 || maxValues < 0) return {ax_error::illegalArgument, {}};
    if (!read.ok()) return {read.code, {}};
    auto* list = std::get_if<std::vector<Element>>(&read.value);
    if (list == nullptr) return {ax_error::illegalArgument, {}};
    const auto size = static_cast<int>(list->size());
    const int begin = std::min(index, size);
    const int end = begin + std::min(maxValues, size - begin);
    return {ax_error::success, std::vector<Element>(list->begin() + begin, list->begin() + end)};
}

}  // namespace scene
