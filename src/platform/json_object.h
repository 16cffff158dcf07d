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

// Rewrites the members of one object, asked for in ascending key order: each
// member is then found by comparing keys with the members after the last one
// asked for (usually one comparison), where a lookup compares about log2(size)
// keys. Members not asked for are stepped over; keys asked for out of order
// are looked up, and missing ones added as null, as memberSlot does, so the
// order decides only the speed. Holds an iterator into `object`: add nothing
// to it by other means while the writer is in use.
class SortedMembers {
public:
    explicit SortedMembers(Json& object) {
        if (!object.is_object()) object = Json::object();
        fields_ = &object.get_ref<Json::object_t&>();
        next_ = fields_->begin();
    }

    Json& operator[](std::string_view key) {
        for (; next_ != fields_->end(); ++next_) {
            const int order = next_->first.compare(key);
            if (order == 0) return (next_++)->second;
            if (order > 0) break;
        }
        // Asked for out of order, or not there yet.
        next_ = fields_->lower_bound(key);
        if (next_ == fields_->end() || next_->first != key)
            next_ = fields_->emplace_hint(next_, std::string(key), nullptr);
        return (next_++)->second;
    }

private:
    Json::object_t* fields_ = nullptr;
    Json::object_t::iterator next_;
};

}  // namespace scene
