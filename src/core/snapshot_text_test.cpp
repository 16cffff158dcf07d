#include "core/snapshot_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace scene {
namespace {

std::string libraryLine(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

Json snapshot() {
    return Json{
        {"captureMetrics", {{"events", Json::array({{{"name", "ready"}, {"uptime", 1.5}}})}, {"frames", 3}}},
        {"context", {{"focusedWindowId", nullptr}, {"revision", 4}}},
        {"docks", Json::array()},
        {"status", "ready"},
        {"visualAgeMS", 12.5},
        {"windows", Json::array({{{"id", "412:1"}, {"x", 10.0}}, {{"id", "412:2"}, {"x", 20.0}}})},
    };
}

// Each step changes the snapshot the way a pass might; after every step the
// kept text must still add up to exactly what the library writes.
TEST(SnapshotTextTest, LineMatchesTheLibraryThroughEveryKindOfChange) {
    using Step = std::function<void(Json&)>;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<const char*, Step> steps[] = {
        {"unchanged", [](Json&) {}},
        {"an age", [](Json& s) { s["visualAgeMS"] = 42.25; }},
        {"integer to the same float", [](Json& s) { s["context"]["revision"] = 4.0; }},
        {"zero to minus zero", [](Json& s) { s["visualAgeMS"] = -0.0; }},
        {"not a number", [nan](Json& s) { s["visualAgeMS"] = nan; }},
        {"deep inside a record", [](Json& s) { s["windows"][1]["x"] = 21.0; }},
        {"an event appended",
         [](Json& s) {
             s["captureMetrics"]["events"].push_back({{"name", "stale"}});
         }},
        {"a record removed", [](Json& s) { s["windows"].erase(0); }},
        {"array emptied", [](Json& s) { s["windows"] = Json::array(); }},
        {"array refilled",
         [](Json& s) {
             s["windows"] = Json::array({1, "two", nullptr});
         }},
        {"member added in front", [](Json& s) { s["context"]["aFirst"] = true; }},
        {"member removed", [](Json& s) { s["context"].erase("focusedWindowId"); }},
        {"container becomes a leaf", [](Json& s) { s["docks"] = "none"; }},
        {"leaf becomes a container",
         [](Json& s) {
             s["status"] = {{"nested", {1, 2}}};
         }},
        {"invalid UTF-8 replaced", [](Json& s) { s["context"]["focusedWindowId"] = std::string("a\xff\"b"); }},
        {"top-level member added", [](Json& s) { s["accessibility"] = "off"; }},
        {"back to the start", [](Json& s) { s = snapshot(); }},
    };
    SnapshotText text;
    Json value = snapshot();
    EXPECT_EQ(text.serialise(value), libraryLine(value));
    for (const auto& [name, step] : steps) {
        SCOPED_TRACE(name);
        step(value);
        EXPECT_EQ(text.serialise(value), libraryLine(value));
    }
}

TEST(SnapshotTextTest, IdenticalMeansWrittenAlike) {
    EXPECT_TRUE(identicalJson(Json{{"a", {1, 2.5, "x"}}}, Json{{"a", {1, 2.5, "x"}}}));
    EXPECT_FALSE(identicalJson(Json(1), Json(1.0)));
    EXPECT_FALSE(identicalJson(Json(0.0), Json(-0.0)));
    EXPECT_FALSE(identicalJson(Json{{"a", 1}}, Json{{"b", 1}}));
    EXPECT_FALSE(identicalJson(Json::array({1}), Json::array({1, 1})));
    EXPECT_TRUE(identicalJson(Json(nullptr), Json(nullptr)));
}

}  // namespace
}  // namespace scene
