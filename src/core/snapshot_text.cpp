#include "core/snapshot_text.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace scene {
namespace {

// The snapshot's own members and the members of its dictionaries (and the
// elements of its arrays) are written one by one; what lies deeper is a single
// piece of text. Window records, metrics and events are thus compared and
// kept whole.
constexpr int kSplitDepth = 2;

void dump(const Json& value, std::string& out) {
    // Invalid UTF-8 from outside (a window title, a process name) becomes
    // U+FFFD rather than costing the whole line.
    nlohmann::detail::serializer<Json> serializer(nlohmann::detail::output_adapter<char>(out), ' ',
                                                  Json::error_handler_t::replace);
    serializer.dump(value, false, false, 0);
}

bool isContainer(const Json& value) { return value.is_object() || value.is_array(); }

}  // namespace

bool identicalJson(const Json& a, const Json& b) {
    if (a.type() != b.type()) return false;
    switch (a.type()) {
        case Json::value_t::object: {
            const auto& left = a.get_ref<const Json::object_t&>();
            const auto& right = b.get_ref<const Json::object_t&>();
            if (left.size() != right.size()) return false;
            for (auto l = left.begin(), r = right.begin(); l != left.end(); ++l, ++r) {
                if (l->first != r->first || !identicalJson(l->second, r->second)) return false;
            }
            return true;
        }
        case Json::value_t::array: {
            const auto& left = a.get_ref<const Json::array_t&>();
            const auto& right = b.get_ref<const Json::array_t&>();
            if (left.size() != right.size()) return false;
            for (std::size_t i = 0; i < left.size(); ++i) {
                if (!identicalJson(left[i], right[i])) return false;
            }
            return true;
        }
        case Json::value_t::number_float: {
            const double left = a.get<double>();
            const double right = b.get<double>();
            return std::memcmp(&left, &right, sizeof left) == 0;
        }
        case Json::value_t::string:
            return a.get_ref<const std::string&>() == b.get_ref<const std::string&>();
        case Json::value_t::boolean:
            return a.get<bool>() == b.get<bool>();
        case Json::value_t::number_integer:
            return a.get<std::int64_t>() == b.get<std::int64_t>();
        case Json::value_t::number_unsigned:
            return a.get<std::uint64_t>() == b.get<std::uint64_t>();
        case Json::value_t::null:
        case Json::value_t::discarded:
            return true;
        default:
            return a == b;
    }
}

const std::string& SnapshotText::serialise(const Json& snapshot) {
    line_.clear();
    write(snapshot, root_, 0);
    return line_;
}

void SnapshotText::write(const Json& value, Part& part, int depth) {
    if (depth >= kSplitDepth || !isContainer(value) || value.empty()) {
        writeLeaf(value, part);
        line_ += part.text;
        return;
    }
    part.written = false;
    const bool object = value.is_object();
    line_ += object ? '{' : '[';
    part.parts.resize(value.size());
    std::size_t index = 0;
    for (auto element = value.begin(); element != value.end(); ++element, ++index) {
        Part& member = part.parts[index];
        if (index > 0) line_ += ',';
        if (object) {
            if (member.nameText.empty() || member.name != element.key()) {
                // A different member at this place: nothing kept for it holds.
                member = Part{};
                member.name = element.key();
                dump(Json(member.name), member.nameText);
                member.nameText += ':';
            }
            line_ += member.nameText;
        }
        write(*element, member, depth + 1);
    }
    line_ += object ? '}' : ']';
}

void SnapshotText::writeLeaf(const Json& value, Part& part) {
    if (part.written && identicalJson(part.value, value)) return;
    part.text.clear();
    dump(value, part.text);
    part.value = value;
    part.written = true;
}

}  // namespace scene
