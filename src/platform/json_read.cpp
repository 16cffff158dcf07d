#include "platform/json_read.h"

#include <cmath>
#include <limits>

namespace scene::json_read {

const Json* member(const Json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::optional<double> looseDouble(const Json& value) {
    if (value.is_number()) return value.get<double>();
    if (value.is_boolean()) return value.get<bool>() ? 1.0 : 0.0;
    return std::nullopt;
}

std::optional<double> strictDouble(const Json& value) {
    if (value.is_number_float()) return value.get<double>();
    return std::nullopt;
}

std::optional<std::int64_t> integer(const Json& value) {
    if (value.is_number_integer()) {
        if (value.is_number_unsigned()) {
            const auto u = value.get<std::uint64_t>();
            if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
            return static_cast<std::int64_t>(u);
        }
        return value.get<std::int64_t>();
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (!std::isfinite(d) || std::trunc(d) != d) return std::nullopt;
        if (d < -9.2e18 || d > 9.2e18) return std::nullopt;
        return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

std::optional<std::int32_t> int32(const Json& value) {
    const auto i = integer(value);
    if (!i || *i < std::numeric_limits<std::int32_t>::min() || *i > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(*i);
}

std::optional<std::uint32_t> uint32(const Json& value) {
    const auto i = integer(value);
    if (!i || *i < 0 || *i > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(*i);
}

std::optional<bool> boolean(const Json& value) {
    if (value.is_boolean()) return value.get<bool>();
    return std::nullopt;
}

std::optional<std::string> string(const Json& value) {
    if (value.is_string()) return value.get<std::string>();
    return std::nullopt;
}

namespace {

template <typename Read>
auto lookUp(const Json& object, std::string_view key, Read read) -> decltype(read(object)) {
    const Json* value = member(object, key);
    if (value == nullptr) return std::nullopt;
    return read(*value);
}

}  // namespace

std::optional<double> looseDouble(const Json& object, std::string_view key) {
    return lookUp(object, key, [](const Json& v) { return looseDouble(v); });
}
std::optional<double> strictDouble(const Json& object, std::string_view key) {
    return lookUp(object, key, [](const Json& v) { return strictDouble(v); });
}
std::optional<std::int64_t> integer(const Json& object, std::string_view key) {
    return lookUp(object, key, [](const Json& v) { return integer(v); });
}
std::optional<std::int32_t> int32(const Json& object, std::string_view key) {
    return lookUp(object, key, [](const Json& v) { return int32(v); });
}
std::optional<std::uint32_t> uint32(const Json& object, std::string_view key) {
    return lookUp(object, key, [](const Json& v) { return uint32(v); });
}
std::optional<bool> boolean(const Json& object, std::string_view key) {
    return lookUp(object, key, [](const Json& v) { return boolean(v); });
}
std::optional<std::string> string(const Json& object, std::string_view key) {
    return lookUp(object, key, [](const Json& v) { return string(v); });
}

std::optional<Rect> windowBounds(const Json& value) {
    if (!value.is_object()) return std::nullopt;
    const auto x = looseDouble(value, "X");
    const auto y = looseDouble(value, "Y");
    const auto width = looseDouble(value, "Width");
    const auto height = looseDouble(value, "Height");
    if (!x || !y || !width || !height) return std::nullopt;
    return Rect{*x, *y, *width, *height};
}

std::optional<Rect> recordRect(const Json& value) {
    if (!value.is_object()) return std::nullopt;
    const auto x = looseDouble(value, "x");
    const auto y = looseDouble(value, "y");
    const auto width = looseDouble(value, "width");
    const auto height = looseDouble(value, "height");
    if (!x || !y || !width || !height) return std::nullopt;
    return Rect{*x, *y, *width, *height};
}

}  // namespace scene::json_read
