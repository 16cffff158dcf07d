#include "platform/platform_choice.h"

#include <gtest/gtest.h>

namespace scene {
namespace {

struct Probe {
    bool reachable = true;
    int calls = 0;
    std::string display;
    std::function<bool(const std::string&)> function() {
        return [this](const std::string& name) {
            ++calls;
            display = name;
            return reachable;
        };
    }
};

TEST(PlatformChoiceTest, SceneWinsOverAReachableDisplay) {
    Probe probe;
    const Environment display{{"DISPLAY", ":5"}};
    EXPECT_EQ(choosePlatform({"p", "--scene", "a.json"}, display, probe.function()).kind, PlatformKind::simulated);
    Environment withScene = display;
    withScene["SCENE_SAMPLER_SCENE"] = "a.json";
    EXPECT_EQ(choosePlatform({"p"}, withScene, probe.function()).kind, PlatformKind::simulated);
    EXPECT_EQ(probe.calls, 0);
    // An empty scene variable counts as unset.
    withScene["SCENE_SAMPLER_SCENE"] = "";
    EXPECT_EQ(choosePlatform({"p"}, withScene, probe.function()).kind, PlatformKind::x11);
    EXPECT_EQ(probe.display, ":5");
}

TEST(PlatformChoiceTest, TheDemoDesktopOnlyWhereNoRealOneWasMeantAndSaidSo) {
    Probe probe;
    const auto demo = choosePlatform({"p"}, {}, probe.function());
    EXPECT_EQ(demo.kind, PlatformKind::simulated);
    EXPECT_NE(demo.notice.find("demo desktop"), std::string::npos);
    EXPECT_EQ(probe.calls, 0);
    EXPECT_NE(choosePlatform({"p"}, {{"DISPLAY", ":9"}}, {}).notice.find("no X11 back-end"), std::string::npos);
    // A DISPLAY without a server is a real desktop that is not there.
    probe.reachable = false;
    const auto absent = choosePlatform({"p"}, {{"DISPLAY", ":9"}}, probe.function());
    EXPECT_FALSE(absent.kind);
    EXPECT_NE(absent.error.find("\":9\""), std::string::npos);
    // Asked for by name: nothing to tell.
    for (const Arguments& named : {Arguments{"p", "--platform", "simulated"}, Arguments{"p", "--scene", "a.json"}})
        EXPECT_EQ(choosePlatform(named, {{"DISPLAY", ":9"}}, probe.function()).notice, "");
}

TEST(PlatformChoiceTest, ForcedPlatformDecidesAlone) {
    Probe probe;
    const Environment display{{"DISPLAY", ":5"}};
    EXPECT_EQ(choosePlatform({"p", "--platform", "simulated"}, display, probe.function()).kind,
              PlatformKind::simulated);
    EXPECT_EQ(probe.calls, 0);
    EXPECT_EQ(choosePlatform({"p", "--scene", "a.json", "--platform", "x11"}, display, probe.function()).kind,
              PlatformKind::x11);

    probe.reachable = false;
    const auto unreachable = choosePlatform({"p", "--platform", "x11"}, display, probe.function());
    EXPECT_FALSE(unreachable.kind);
    EXPECT_EQ(unreachable.error, "--platform x11: cannot open display \":5\"");
    EXPECT_FALSE(choosePlatform({"p", "--platform", "x11"}, display, {}).kind);
    EXPECT_FALSE(choosePlatform({"p", "--platform", "x11"}, {}, probe.function()).kind);
}

TEST(PlatformChoiceTest, RejectsAMissingOrUnknownPlatformName) {
    for (const Arguments& arguments : {Arguments{"p", "--platform"}, Arguments{"p", "--platform", "wayland"}}) {
        const auto choice = choosePlatform(arguments, {}, {});
        EXPECT_FALSE(choice.kind);
        EXPECT_EQ(choice.error, "--platform: expected simulated or x11");
    }
}

}  // namespace
}  // namespace scene
