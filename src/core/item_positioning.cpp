#include "core/item_positioning.h"

#include <cmath>
#include <optional>

#include "platform/json_read.h"

namespace scene {
namespace {

constexpr double kSizeTolerance = 4;

// A dictionary whose values are all numbers, read as doubles.
bool isNumberMap(const Json& value) {
    if (!value.is_object()) return false;
    for (const auto& [key, member] : value.items())
        if (!member.is_number()) return false;
    return true;
}

// Ids compare as optional text, so an item without a usable `windowId` goes with
// the first window without a usable `id`.
const Json* findWindow(const Json& item, const Records& windows) {
    const auto wanted = json_read::string(item, "windowId");
    for (const Json& window : windows)
        if (json_read::string(window, "id") == wanted) return &window;
    return nullptr;
}

}  // namespace

Records positioned(const Records& items, const Records& windows) {
    Records result;
    result.reserve(items.size());
    for (const Json& item : items) {
        const Json* window = findWindow(item, windows);
        if (window == nullptr) continue;
        const Json* bounds = json_read::member(item, "windowBounds");
        if (bounds == nullptr || !isNumberMap(*bounds)) continue;
        const auto x = json_read::looseDouble(*window, "x");
        const auto y = json_read::looseDouble(*window, "y");
        const auto width = json_read::looseDouble(*window, "width");
        const auto height = json_read::looseDouble(*window, "height");
        if (!x || !y || !width || !height) continue;

        if (!(std::fabs(*width - json_read::looseDouble(*bounds, "width").value_or(0)) < kSizeTolerance) ||
            !(std::fabs(*height - json_read::looseDouble(*bounds, "height").value_or(0)) < kSizeTolerance))
            continue;
        const double dx = *x - json_read::looseDouble(*bounds, "x").value_or(*x);
        const double dy = *y - json_read::looseDouble(*bounds, "y").value_or(*y);

        Json moved = item;
        moved["x"] = json_read::looseDouble(item, "x").value_or(0) + dx;
        moved["y"] = json_read::looseDouble(item, "y").value_or(0) + dy;
        const Json* clip = json_read::member(item, "clip");
        if (clip != nullptr && isNumberMap(*clip)) {
            Json shifted = *clip;
            shifted["x"] = json_read::looseDouble(*clip, "x").value_or(0) + dx;
            shifted["y"] = json_read::looseDouble(*clip, "y").value_or(0) + dy;
            moved["clip"] = std::move(shifted);
        }
        result.push_back(std::move(moved));
    }
    return result;
}

}  // namespace scene
