#include "platform/simulated/scene_loader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/json_read.h"
#include "platform/manual_runtime.h"
#include "platform/simulated/demo_scene.h"

namespace scene::simulated {
namespace {

using ::testing::StartsWith;

const std::string kScenes = SCENE_SAMPLER_TEST_SCENES;
const std::string kBasic = kScenes + "/basic.json";

TEST(SceneLoaderTest, LoadsASceneFile) {
    ManualRuntime runtime;
    const auto result = loadSceneFile(kBasic, runtime, {1, [] { return 0; }});
    ASSERT_TRUE(result.platform) << result.error;
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.platform->ownBundleIdentifier(), "app.example.sampler");
    EXPECT_EQ(result.platform->workspace().frontmostApplication(), (RunningApplication{412, "com.example.writer"}));
    runtime.advance(2);
    EXPECT_EQ(result.platform->workspace().frontmostApplication(), (RunningApplication{518, std::nullopt}));
}

TEST(SceneLoaderTest, ErrorLinesNameTheFileAsGiven) {
    ManualRuntime runtime;
    const std::string invalid = kScenes + "/invalid_unknown_action.json";
    EXPECT_THAT(loadSceneFile(invalid, runtime).error, StartsWith(invalid + R"(: timeline[3].do: unknown action "jump" )"));
    EXPECT_EQ(loadSceneFile(kScenes + "/missing.json", runtime).error,
              kScenes + "/missing.json: cannot be read: No such file or directory");
    EXPECT_EQ(loadSceneFile(kScenes, runtime).error, kScenes + ": cannot be read: is a directory");
    EXPECT_EQ(loadSceneFile(kScenes + "/missing.json", runtime).platform, nullptr);
}

TEST(SceneLoaderTest, ErrorsStayOneLineWhateverTheFileHolds) {
    ManualRuntime runtime;
    EXPECT_EQ(loadScene(R"({"format": 1, "windows\nlist": "available"})", "a\rb.json", runtime).error,
              R"(a\rb.json: windows\nlist: unknown key)");
    EXPECT_THAT(loadScene(R"({"format": 1, "timeline": [{"at": 0, "do": "jump\t\u0001\u007f"}]})", "s.json", runtime)
                    .error,
              StartsWith(R"(s.json: timeline[0].do: unknown action "jump\t\u0001\u007f" )"));
}

TEST(SceneLoaderTest, ProcessSceneComesFromTheArgumentThenTheEnvironmentThenTheDemo) {
    ManualRuntime runtime;
    const std::string invalid = kScenes + "/invalid_unknown_action.json";
    const Environment withVariable{{"SCENE_SAMPLER_SCENE", invalid}};

    const auto fromArgument = loadSceneForProcess({"scene-sampler", "412", "--scene", kBasic}, withVariable, runtime);
    ASSERT_TRUE(fromArgument.platform) << fromArgument.error;
    EXPECT_EQ(fromArgument.platform->ownBundleIdentifier(), "app.example.sampler");

    // The word after --scene is a path even when it reads as a process id.
    EXPECT_EQ(loadSceneForProcess({"scene-sampler", "--scene", "412"}, {}, runtime).error,
              "412: cannot be read: No such file or directory");
    EXPECT_EQ(loadSceneForProcess({"scene-sampler", "--once", "--scene"}, withVariable, runtime).error,
              "--scene: missing file path");

    EXPECT_THAT(loadSceneForProcess({"scene-sampler"}, withVariable, runtime).error, StartsWith(invalid + ": "));

    for (const Environment& environment : {Environment{}, Environment{{"SCENE_SAMPLER_SCENE", ""}}}) {
        const auto demo = loadSceneForProcess({"scene-sampler"}, environment, runtime);
        ASSERT_TRUE(demo.platform) << demo.error;
        EXPECT_EQ(demo.platform->workspace().frontmostApplication()->bundleIdentifier, "com.example.writer");
    }
}

TEST(SceneLoaderTest, EveryShippedExampleLoads) {
    const auto examples = std::filesystem::path(kScenes) / ".." / ".." / "examples" / "scenes";
    int loaded = 0;
    for (const auto& file : std::filesystem::directory_iterator(examples)) {
        if (file.path().extension() != ".json") continue;
        ManualRuntime runtime;
        const auto result = loadSceneFile(file.path().string(), runtime);
        EXPECT_TRUE(result.platform) << result.error;
        ++loaded;
    }
    EXPECT_GE(loaded, 1);
}

// What the demo desktop is for: every kind of window the sampler tells apart.
TEST(SceneLoaderTest, DemoDesktopShowsEveryKindOfWindow) {
    ManualRuntime runtime;
    const auto demo = loadScene(demoSceneText(), "demo.json", runtime);
    ASSERT_TRUE(demo.platform) << demo.error;
    SimulatedPlatform& platform = *demo.platform;
    const auto model = platform.model();
    const auto bundleOf = [&](std::int32_t pid) {
        const ApplicationModel* app = model.application(pid);
        return app != nullptr ? app->bundleId.value_or("") : "";
    };
    const auto pathOf = [&](std::int32_t pid) {
        const ApplicationModel* app = model.application(pid);
        return app != nullptr ? app->bundlePath.value_or("") : "";
    };
    const Rect display = platform.windowServer().displayBounds(1);
    const auto has = [&](auto match) { return std::any_of(model.windows.begin(), model.windows.end(), match); };

    EXPECT_EQ(display, (Rect{0, 0, 1440, 900}));
    EXPECT_TRUE(has([&](const WindowModel& w) {
        return bundleOf(w.pid) == "com.apple.dock" && w.layer == platform.windowServer().dockWindowLevel() &&
               w.bounds.height < 300 && w.bounds.maxY() < display.maxY() && w.bounds.maxY() > display.maxY() - 24;
    })) << "Dock shelf";
    EXPECT_TRUE(has([&](const WindowModel& w) {
        return w.layer == 24 && w.bounds.width == display.width && w.bounds.height == 24;
    })) << "menu bar";
    EXPECT_TRUE(has([&](const WindowModel& w) {
        return bundleOf(w.pid) == "com.apple.notificationcenterui" && w.bounds.width < display.width / 2;
    })) << "notification banner";
    EXPECT_TRUE(has([&](const WindowModel& w) {
        return w.layer >= 20 && w.bounds.width >= 16 && w.bounds.width <= 1200 && w.bounds.height >= 12 &&
               w.bounds.height <= 320 && pathOf(w.pid).starts_with("/Library/Input Methods/") &&
               pathOf(w.pid).find(".app") != std::string::npos;
    })) << "input-method candidate";
    EXPECT_GE(std::count_if(model.windows.begin(), model.windows.end(),
                            [&](const WindowModel& w) {
                                return w.layer == 0 && w.titleBar == 28 && !w.panels.empty() &&
                                       bundleOf(w.pid).size() > 0;
                            }),
              3);
    ASSERT_TRUE(model.frontmost);
    EXPECT_TRUE(has([&](const WindowModel& w) { return w.pid == *model.frontmost && w.layer == 0; }));

    // Something moves, and keeps moving.
    const auto before = platform.windowServer().copyWindowList();
    runtime.advance(1.0);
    EXPECT_NE(*platform.windowServer().copyWindowList(), *before);
    runtime.advance(60.0);
    EXPECT_GT(runtime.pendingTaskCount(), 0u);
}

}  // namespace
}  // namespace scene::simulated
