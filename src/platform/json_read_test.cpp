#include "platform/json_read.h"

#include <cstdint>
#include <optional>

#include <gtest/gtest.h>

namespace scene {
namespace {

TEST(JsonReadTest, LooseDoubleTakesAnyNumberOrBooleanStrictOnlyAFloat) {
    struct Case {
        const char* name;
        Json value;
        std::optional<double> loose;
        std::optional<double> strict;
    };
    const Case cases[] = {
        {"float", 2.5, 2.5, 2.5},
        {"float without fraction", 3.0, 3.0, 3.0},
        {"integer", 3, 3.0, std::nullopt},
        {"negative integer", -7, -7.0, std::nullopt},
        {"unsigned", Json(std::uint64_t{1} << 63), 9223372036854775808.0, std::nullopt},
        {"true", true, 1.0, std::nullopt},
        {"false", false, 0.0, std::nullopt},
        {"numeric string", "3", std::nullopt, std::nullopt},
        {"null", nullptr, std::nullopt, std::nullopt},
        {"array", Json::array({1}), std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(json_read::looseDouble(c.value), c.loose);
        EXPECT_EQ(json_read::strictDouble(c.value), c.strict);
        const Json record = {{"k", c.value}};
        EXPECT_EQ(json_read::looseDouble(record, "k"), c.loose);
        EXPECT_EQ(json_read::strictDouble(record, "k"), c.strict);
    }
}

TEST(JsonReadTest, IntegerReadsKeepToTheirRange) {
    struct Case {
        const char* name;
        Json value;
        std::optional<std::int32_t> int32;
        std::optional<std::uint32_t> uint32;
    };
    const Case cases[] = {
        {"zero", 0, 0, 0u},
        {"int32 max", 2147483647, 2147483647, 2147483647u},
        {"int32 max + 1", 2147483648LL, std::nullopt, 2147483648u},
        {"int32 min", -2147483648LL, -2147483647 - 1, std::nullopt},
        {"int32 min - 1", -2147483649LL, std::nullopt, std::nullopt},
        {"uint32 max", 4294967295ULL, std::nullopt, 4294967295u},
        {"uint32 max + 1", 4294967296ULL, std::nullopt, std::nullopt},
        {"huge unsigned", Json(~std::uint64_t{0}), std::nullopt, std::nullopt},
        {"whole float", 42.0, 42, 42u},
        {"fractional float", 42.5, std::nullopt, std::nullopt},
        {"boolean", true, std::nullopt, std::nullopt},
        {"string", "42", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(json_read::int32(c.value), c.int32);
        EXPECT_EQ(json_read::uint32(c.value), c.uint32);
    }
    EXPECT_EQ(json_read::integer(Json(~std::uint64_t{0})), std::nullopt);
    EXPECT_EQ(json_read::integer(Json(1e300)), std::nullopt);
}

TEST(JsonReadTest, KeyedLookUpsNeverThrow) {
    const Json record = {{"name", "Dock"}, {"on", true}, {"pid", 12}};
    EXPECT_EQ(json_read::string(record, "name"), "Dock");
    EXPECT_EQ(json_read::boolean(record, "on"), true);
    EXPECT_EQ(json_read::int32(record, "pid"), 12);
    EXPECT_EQ(json_read::string(record, "pid"), std::nullopt);
    EXPECT_EQ(json_read::boolean(record, "pid"), std::nullopt);
    EXPECT_EQ(json_read::int32(record, "missing"), std::nullopt);
    EXPECT_EQ(json_read::member(record, "missing"), nullptr);
    EXPECT_EQ(json_read::int32(Json::array({1, 2}), "pid"), std::nullopt);
    EXPECT_EQ(json_read::string(Json(), "name"), std::nullopt);
}

TEST(JsonReadTest, WindowBoundsAndRecordRects) {
    const Json bounds = {{"X", 10}, {"Y", 20.5}, {"Width", -30}, {"Height", 40}};
    const auto rect = json_read::windowBounds(bounds);
    ASSERT_TRUE(rect);
    // The sign is kept: standardising is the caller's decision.
    EXPECT_EQ(rect->x, 10);
    EXPECT_EQ(rect->y, 20.5);
    EXPECT_EQ(rect->width, -30);
    EXPECT_EQ(rect->height, 40);

    Json missing = bounds;
    missing.erase("Height");
    Json text = bounds;
    text["X"] = "10";
    EXPECT_FALSE(json_read::windowBounds(missing));
    EXPECT_FALSE(json_read::windowBounds(text));
    EXPECT_FALSE(json_read::windowBounds(Json::array({10, 20, 30, 40})));
    EXPECT_FALSE(json_read::windowBounds({{"x", 10}, {"y", 20}, {"width", 30}, {"height", 40}}));

    const auto record = json_read::recordRect({{"x", 1}, {"y", 2.5}, {"width", 3}, {"height", 4}});
    ASSERT_TRUE(record);
    EXPECT_EQ(*record, (Rect{1, 2.5, 3, 4}));
    EXPECT_FALSE(json_read::recordRect(bounds));
}

}  // namespace
}  // namespace scene
