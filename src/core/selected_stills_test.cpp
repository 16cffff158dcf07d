// Stills of the selected display on the simulated desktop, in virtual time.
#include "core/selected_stills.h"

#include <gtest/gtest.h>

#include "core/scene_sampler.h"
#include "platform/manual_runtime.h"
#include "platform/simulated/scene_loader.h"
#include "platform/simulated/simulated_platform.h"

namespace scene {
namespace {

class SelectedStillsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const Json scene = {
            {"format", 1},
            {"applications", Json::array({{{"pid", 100}, {"bundleId", "com.example.editor"}}})},
            {"frontmost", 100},
            {"windows", Json::array({{{"pid", 100}, {"number", 7}, {"bounds", {100, 100, 600, 400}}}})},
        };
        auto loaded = simulated::loadScene(scene.dump(), "stills.json", runtime, {4242, [] { return 1; }});
        ASSERT_TRUE(loaded.platform) << loaded.error;
        platform = std::move(loaded.platform);
        sampler = std::make_unique<SceneSampler>(Arguments{"scene-sampler", "--allow-screen-capture"}, Environment{},
                                                 *platform, runtime);
        sampler->start();
        runtime.streams().feed("capture-select\n");
        runtime.advance(1.0);
        const auto lines = runtime.streams().takeLines();
        ASSERT_FALSE(lines.empty());
        ASSERT_EQ(Json::parse(lines.back())["captureSession"], "ready");
    }

    // Asks for `count` stills in one write and returns the replies that came
    // within `seconds`, in the order they were written.
    std::vector<Json> request(int first, int count, double seconds) {
        std::string text;
        for (int id = first; id < first + count; ++id) text += "capture-snapshot " + std::to_string(id) + "\n";
        runtime.streams().feed(text);
        runtime.advance(seconds);
        std::vector<Json> replies;
        for (const std::string& line : runtime.streams().takeLines()) {
            Json parsed = Json::parse(line);
            if (parsed.contains("kind")) replies.push_back(std::move(parsed));
        }
        return replies;
    }

    ManualRuntime runtime;
    std::unique_ptr<simulated::SimulatedPlatform> platform;
    std::unique_ptr<SceneSampler> sampler;
};

TEST_F(SelectedStillsTest, ManyRequestsOfOneFrameShareOneEncodingInRequestOrder) {
    const std::vector<Json> replies = request(1, 100, 0.5);
    ASSERT_EQ(replies.size(), 100u);
    EXPECT_EQ(sampler->stills.encodings, 1u);
    for (std::size_t i = 0; i < replies.size(); ++i) {
        EXPECT_EQ(replies[i]["requestId"], std::to_string(i + 1));
        EXPECT_EQ(replies[i].size(), 7u);
        EXPECT_TRUE(replies[i]["image"] == replies[0]["image"]);  // not printed: megabytes
        EXPECT_EQ(replies[i]["observedAtMS"], replies[0]["observedAtMS"]);
    }
    EXPECT_FALSE(replies[0]["image"].get<std::string>().empty());

    // Later requests want a frame newer than the one current when they came.
    const std::vector<Json> later = request(101, 3, 0.5);
    ASSERT_EQ(later.size(), 3u);
    EXPECT_EQ(sampler->stills.encodings, 2u);
    EXPECT_GT(later[0]["observedAtMS"].get<double>(), replies[0]["observedAtMS"].get<double>());
}

}  // namespace
}  // namespace scene
