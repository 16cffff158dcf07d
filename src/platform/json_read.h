#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/rect.h"
#include "platform/records.h"

// Typed look-ups into loosely typed records. None of them throws: a missing key,
// a value of another kind or a number out of range gives nothing.
//
// Two numeric reads exist because callers need both: `looseDouble` takes any
// integer, float or boolean as a double (the way a bridged number reads), while
// `strictDouble` takes a float and only a float.
namespace scene::json_read {

const Json* member(const Json& object, std::string_view key);

std::optional<double> looseDouble(const Json& value);
std::optional<double> strictDouble(const Json& value);
// Integral numbers (and floats without fraction) that fit the type.
std::optional<std::int64_t> integer(const Json& value);
std::optional<std::int32_t> int32(const Json& value);
std::optional<std::uint32_t> uint32(const Json& value);
std::optional<bool> boolean(const Json& value);
std::optional<std::string> string(const Json& value);

std::optional<double> looseDouble(const Json& object, std::string_view key);
std::optional<double> strictDouble(const Json& object, std::string_view key);
std::optional<std::int64_t> integer(const Json& object, std::string_view key);
std::optional<std::int32_t> int32(const Json& object, std::string_view key);
std::optional<std::uint32_t> uint32(const Json& object, std::string_view key);
std::optional<bool> boolean(const Json& object, std::string_view key);
std::optional<std::string> string(const Json& object, std::string_view key);

// A window-server bounds dictionary {"X","Y","Width","Height"} (all numbers)
// as a rectangle; width and height keep their sign, callers standardise.
std::optional<Rect> windowBounds(const Json& value);
// A record rectangle {"x","y","width","height"} (loose doubles).
std::optional<Rect> recordRect(const Json& value);

}  // namespace scene::json_read
