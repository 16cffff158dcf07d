#pragma once

#include <initializer_list>
#include <utility>

#include "platform/records.h"

namespace scene {

// A JSON object from members given in ascending key order. Records built every
// pass use this: each member goes in at the end without a single key
// comparison, where the general initializer-list constructor checks and sorts.
inline Json sortedObject(std::initializer_list<std::pair<const char*, Json>> members) {
    Json object = Json::object();
    auto& fields = object.get_ref<Json::object_t&>();
    for (const auto& [key, value] : members) fields.emplace_hint(fields.end(), key, value);
    return object;
}

}  // namespace scene
