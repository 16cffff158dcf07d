#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
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

// The member `key` of `object`, added as null when missing (a null `object`
// becomes an empty object first). The library's operator[] builds a map node
// before it looks and throws it away when the member exists; this looks first,
// so rewriting an existing member allocates nothing.
inline Json& memberSlot(Json& object, std::string_view key) {
    if (object.is_null()) object = Json::object();
    auto& fields = object.get_ref<Json::object_t&>();
    const auto found = fields.find(key);
    if (found != fields.end()) return found->second;
    return fields.emplace_hint(found, std::string(key), nullptr)->second;
}

}  // namespace scene
