#include "platform/simulated/scene_reader.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "platform/json_read.h"

namespace scene::simulated::scene_read {

std::string childPath(std::string_view parent, std::string_view key) {
    std::string path(parent);
    if (!path.empty()) path += '.';
    path += key;
    return path;
}

std::string itemPath(std::string_view parent, std::size_t index) {
    std::string path(parent);
    path += '[';
    path += std::to_string(index);
    path += ']';
    return path;
}

void refuse(std::string path, std::string problem) { throw SceneError{std::move(path), std::move(problem)}; }

std::int64_t integer(const Json& value, const std::string& path) {
    // Booleans are not numbers here, and 1.5 is no window number; 2.0 is.
    if (!value.is_number()) refuse(path, "must be an integer");
    const auto read = json_read::integer(value);
    if (!read) refuse(path, "must be an integer");
    return *read;
}

std::int32_t int32(const Json& value, const std::string& path) {
    const auto read = integer(value, path);
    if (read < std::numeric_limits<std::int32_t>::min() || read > std::numeric_limits<std::int32_t>::max())
        refuse(path, "must be a 32-bit signed integer");
    return static_cast<std::int32_t>(read);
}

std::uint32_t uint32(const Json& value, const std::string& path) {
    const auto read = integer(value, path);
    if (read < 0 || read > std::numeric_limits<std::uint32_t>::max()) refuse(path, "must be a 32-bit unsigned integer");
    return static_cast<std::uint32_t>(read);
}

std::uint64_t uint64(const Json& value, const std::string& path) {
    if (value.is_number_unsigned()) return value.get<std::uint64_t>();
    const auto read = integer(value, path);
    if (read < 0) refuse(path, "must be an unsigned integer");
    return static_cast<std::uint64_t>(read);
}

std::size_t index(const Json& value, const std::string& path) {
    const auto read = integer(value, path);
    if (read < 0) refuse(path, "must not be negative");
    return static_cast<std::size_t>(read);
}

double number(const Json& value, const std::string& path) {
    if (!value.is_number()) refuse(path, "must be a number");
    return value.get<double>();
}

double nonNegativeNumber(const Json& value, const std::string& path) {
    const double read = number(value, path);
    if (read < 0) refuse(path, "must not be negative");
    return read;
}

double positiveNumber(const Json& value, const std::string& path) {
    const double read = number(value, path);
    if (!(read > 0)) refuse(path, "must be greater than 0");
    return read;
}

bool boolean(const Json& value, const std::string& path) {
    if (!value.is_boolean()) refuse(path, "must be true or false");
    return value.get<bool>();
}

std::string string(const Json& value, const std::string& path) {
    if (!value.is_string()) refuse(path, "must be a string");
    return value.get<std::string>();
}

std::optional<std::string> stringOrNull(const Json& value, const std::string& path) {
    if (value.is_null()) return std::nullopt;
    if (!value.is_string()) refuse(path, "must be a string or null");
    return value.get<std::string>();
}

std::optional<long> codeOrNull(const Json& value, const std::string& path) {
    if (value.is_null()) return std::nullopt;
    if (!value.is_number()) refuse(path, "must be an integer or null");
    return integer(value, path);
}

const Json& array(const Json& value, const std::string& path) {
    if (!value.is_array()) refuse(path, "must be an array");
    return value;
}

namespace {

template <std::size_t N>
std::array<double, N> numbers(const Json& value, const std::string& path, const char* shape) {
    if (!value.is_array() || value.size() != N) refuse(path, std::string("must be ") + shape);
    std::array<double, N> read{};
    for (std::size_t i = 0; i < N; ++i) {
        if (!value[i].is_number()) refuse(path, std::string("must be ") + shape);
        read[i] = value[i].get<double>();
    }
    return read;
}

}  // namespace

Rect rect(const Json& value, const std::string& path) {
    const auto [x, y, width, height] = numbers<4>(value, path, "a rectangle [x, y, width, height]");
    return {x, y, width, height};
}

Point point(const Json& value, const std::string& path) {
    const auto [x, y] = numbers<2>(value, path, "a point [x, y]");
    return {x, y};
}

Size size(const Json& value, const std::string& path) {
    const auto [width, height] = numbers<2>(value, path, "a size [width, height]");
    return {width, height};
}

Color color(const Json& value, const std::string& path) {
    const auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    if (!value.is_string()) refuse(path, "must be a colour \"#rrggbb\"");
    const auto& text = value.get_ref<const std::string&>();
    if (text.size() != 7 || text[0] != '#' || !std::all_of(text.begin() + 1, text.end(), isHex))
        refuse(path, "must be a colour \"#rrggbb\"");
    Color read = 0;
    std::from_chars(text.data() + 1, text.data() + text.size(), read, 16);
    return read;
}

WindowRef windowRef(const Json& value, const std::string& path) {
    const auto problem = "must be a window reference \"pid:number\"";
    if (!value.is_string()) refuse(path, problem);
    const auto& text = value.get_ref<const std::string&>();
    const auto colon = text.find(':');
    if (colon == std::string::npos) refuse(path, problem);
    const auto parse = [&](std::string_view part, auto& into) {
        const auto* end = part.data() + part.size();
        const auto [stop, error] = std::from_chars(part.data(), end, into);
        if (part.empty() || error != std::errc() || stop != end) refuse(path, problem);
    };
    WindowRef ref;
    parse(std::string_view(text).substr(0, colon), ref.pid);
    parse(std::string_view(text).substr(colon + 1), ref.number);
    return ref;
}

std::size_t choice(const Json& value, const std::string& path, std::span<const std::string_view> names) {
    if (value.is_string()) {
        const auto& text = value.get_ref<const std::string&>();
        const auto it = std::find(names.begin(), names.end(), text);
        if (it != names.end()) return static_cast<std::size_t>(it - names.begin());
    }
    std::string expected;
    for (const auto name : names) {
        if (!expected.empty()) expected += name == names.back() ? " or " : ", ";
        expected += '"';
        expected += name;
        expected += '"';
    }
    refuse(path, "must be " + expected);
}

ObjectReader::ObjectReader(const Json& value, std::string path, const std::vector<Keys>& keySets)
    : value_(value), path_(std::move(path)) {
    if (!value.is_object()) refuse(path_, "must be an object");
    const auto known = [&](const std::string& key) {
        return std::any_of(keySets.begin(), keySets.end(),
                           [&key](Keys keys) { return std::find(keys.begin(), keys.end(), key) != keys.end(); });
    };
    for (auto it = value.begin(); it != value.end(); ++it) {
        if (!known(it.key())) refuse(pathOf(it.key()), "unknown key");
    }
}

const Json* ObjectReader::find(std::string_view key) const { return json_read::member(value_, key); }

const Json& ObjectReader::require(std::string_view key) const {
    const Json* member = find(key);
    if (member == nullptr) refuse(pathOf(key), "required key is missing");
    return *member;
}

}  // namespace scene::simulated::scene_read
