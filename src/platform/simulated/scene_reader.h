#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/records.h"
#include "platform/rect.h"
#include "platform/simulated/scene_error.h"
#include "platform/simulated/window_model.h"

// Typed reads of scene JSON that name the offending path. They throw
// SceneError, which only the scene parser's entry points catch: a refusal is
// one line about the first problem found, and unwinding is the shortest way
// there from deep inside a tree of elements.
namespace scene::simulated::scene_read {

std::string childPath(std::string_view parent, std::string_view key);
std::string itemPath(std::string_view parent, std::size_t index);

[[noreturn]] void refuse(std::string path, std::string problem);

std::int64_t integer(const Json& value, const std::string& path);
std::int32_t int32(const Json& value, const std::string& path);
std::uint32_t uint32(const Json& value, const std::string& path);
std::uint64_t uint64(const Json& value, const std::string& path);
std::size_t index(const Json& value, const std::string& path);
double number(const Json& value, const std::string& path);
double nonNegativeNumber(const Json& value, const std::string& path);
double positiveNumber(const Json& value, const std::string& path);
bool boolean(const Json& value, const std::string& path);
std::string string(const Json& value, const std::string& path);
std::optional<std::string> stringOrNull(const Json& value, const std::string& path);
std::optional<long> codeOrNull(const Json& value, const std::string& path);
const Json& array(const Json& value, const std::string& path);
Rect rect(const Json& value, const std::string& path);
Point point(const Json& value, const std::string& path);
Size size(const Json& value, const std::string& path);
Color color(const Json& value, const std::string& path);
WindowRef windowRef(const Json& value, const std::string& path);

// The index of the value among `names`.
std::size_t choice(const Json& value, const std::string& path, std::span<const std::string_view> names);

// One JSON object of a scene: refuses a value that is not an object or that has
// a key outside the given sets, then hands out its members with their paths.
// Borrows the value; lives for one read on the reading thread.
class ObjectReader {
public:
    using Keys = std::span<const std::string_view>;

    ObjectReader(const Json& value, std::string path, const std::vector<Keys>& keySets);
    ObjectReader(const Json& value, std::string path, Keys keys)
        : ObjectReader(value, std::move(path), std::vector<Keys>{keys}) {}

    const Json& value() const { return value_; }
    const std::string& path() const { return path_; }
    std::string pathOf(std::string_view key) const { return childPath(path_, key); }
    const Json* find(std::string_view key) const;
    bool has(std::string_view key) const { return find(key) != nullptr; }
    const Json& require(std::string_view key) const;

    template <typename Read>
    auto required(std::string_view key, Read read) const {
        return read(require(key), pathOf(key));
    }
    template <typename Read>
    auto optional(std::string_view key, Read read) const
        -> std::optional<decltype(read(std::declval<const Json&>(), std::declval<const std::string&>()))> {
        const Json* member = find(key);
        if (member == nullptr) return std::nullopt;
        return read(*member, pathOf(key));
    }
    // Replaces `into` when the key is present: the shape of every "those keys
    // change" action, and of defaults overridden by a scene.
    template <typename Read, typename T>
    void assign(std::string_view key, Read read, T& into) const {
        if (const Json* member = find(key)) into = read(*member, pathOf(key));
    }

private:
    const Json& value_;
    std::string path_;
};

}  // namespace scene::simulated::scene_read
