#include "tools/view/display_bounds.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

namespace scene::view {
namespace {

std::string writeScene(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + std::to_string(::getpid()) + "-" + name;
    std::ofstream(path) << text;
    return path;
}

TEST(DisplayBoundsTest, PrefersTheOptionThenTheFramesOwnRectangleThenTheScene) {
    const std::vector<SceneDisplay> scene = {{1, {0, 0, 1440, 900}}, {2, {1440, -100, 1920, 1080}}};
    struct Case {
        const char* name;
        DisplayClues clues;
        Rect expected;
    };
    const Case cases[] = {
        {"option over everything",
         {Rect{10, 20, 300, 200}, Rect{0, 0, 1440, 900}, 2u, scene, Size{1920, 1080}},
         {10, 20, 300, 200}},
        {"frame rectangle over the scene",
         {std::nullopt, Rect{1440, -100, 1920, 1080}, 1u, scene, std::nullopt},
         {1440, -100, 1920, 1080}},
        {"empty frame rectangle ignored",
         {std::nullopt, Rect{5, 5, 0, 0}, 2u, scene, std::nullopt},
         {1440, -100, 1920, 1080}},
        {"scene display of the frame's id",
         {std::nullopt, std::nullopt, 2u, scene, Size{1920, 1080}},
         {1440, -100, 1920, 1080}},
        {"first scene display without an id",
         {std::nullopt, std::nullopt, std::nullopt, scene, std::nullopt},
         {0, 0, 1440, 900}},
        {"unknown id: the frame's size at the origin",
         {std::nullopt, std::nullopt, 9u, scene, Size{800, 600}},
         {0, 0, 800, 600}},
        {"unknown id, no frame: first scene display",
         {std::nullopt, std::nullopt, 9u, scene, std::nullopt},
         {0, 0, 1440, 900}},
        {"nothing known: the demo display", {}, {0, 0, 1440, 900}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(displayBounds(c.clues), c.expected);
    }
}

TEST(DisplayBoundsTest, ReadsTheSnapshotsFrameRectangleAndSelectedDisplay) {
    const Json snapshot = Json::parse(R"({"captureSelectedDisplay":2,
        "captureMetrics":{"frameScreenRect":{"x":1440.0,"y":0.0,"width":1280.0,"height":800.0}}})");
    EXPECT_EQ(frameScreenRect(snapshot), (Rect{1440, 0, 1280, 800}));
    EXPECT_EQ(selectedDisplay(snapshot), 2u);

    const Json early = Json::parse(R"({"captureSelectedDisplay":null,"captureMetrics":{"frameScreenRect":null}})");
    EXPECT_FALSE(frameScreenRect(early));
    EXPECT_FALSE(selectedDisplay(early));
    EXPECT_FALSE(frameScreenRect(Json::parse(R"({"captureMetrics":{"directPixelRequests":0}})")));
}

TEST(DisplayBoundsTest, FindsTheScenesDisplaysWhereTheSamplerWill) {
    const std::string file = writeScene("two_displays.json", R"({"format":1,"displays":[
        {"id":4,"bounds":[0,0,1280,800]},{"id":7,"bounds":[1280,0,1024,768]}]})");
    const std::string other =
        writeScene("one_display.json", R"({"format":1,"displays":[{"id":3,"bounds":[0,0,640,480]}]})");

    const auto fromArgument = sceneDisplays({"--visual", "--scene", file}, {{"SCENE_SAMPLER_SCENE", other}});
    ASSERT_EQ(fromArgument.size(), 2u);
    EXPECT_EQ(fromArgument[1].id, 7u);
    EXPECT_EQ(fromArgument[1].bounds, (Rect{1280, 0, 1024, 768}));

    const auto fromEnvironment = sceneDisplays({"--visual"}, {{"SCENE_SAMPLER_SCENE", other}});
    ASSERT_EQ(fromEnvironment.size(), 1u);
    EXPECT_EQ(fromEnvironment[0].id, 3u);

    const auto demo = sceneDisplays({}, {{"SCENE_SAMPLER_SCENE", ""}});
    ASSERT_EQ(demo.size(), 1u);
    EXPECT_EQ(demo[0].bounds, (Rect{0, 0, 1440, 900}));

    const std::string defaults = writeScene("no_displays.json", R"({"format":1})");
    ASSERT_EQ(sceneDisplays({"--scene", defaults}, {}).size(), 1u);

    EXPECT_TRUE(sceneDisplays({"--scene", ::testing::TempDir() + "missing.json"}, {}).empty());
    EXPECT_TRUE(sceneDisplays({"--scene"}, {}).empty());
    for (const auto& path : {file, other, defaults}) std::remove(path.c_str());
}

}  // namespace
}  // namespace scene::view
