#include "capture_access/native_capture_access.h"

#include <gtest/gtest.h>

namespace scene {
namespace {

TEST(NativeCaptureAccessTest, EnabledResolution) {
    struct Case {
        const char* name;
        Arguments arguments;
        Environment environment;
        bool enabled;
    };
    const Environment live{{"VANTU_LIVE_CAPTURE", "1"}};
    const Case cases[] = {
        {"nothing", {"sampler"}, {}, false},
        {"allow flag", {"sampler", "--allow-screen-capture"}, {}, true},
        {"once beats allow flag", {"sampler", "--allow-screen-capture", "--once"}, {}, false},
        {"once beats environment", {"sampler", "--once"}, live, false},
        {"environment", {"sampler"}, live, true},
        {"environment word true", {"sampler"}, {{"VANTU_LIVE_CAPTURE", "true"}}, false},
        {"environment with trailing space", {"sampler"}, {{"VANTU_LIVE_CAPTURE", "1 "}}, false},
        {"flag must match whole", {"sampler", "--allow-screen-capture=1"}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const NativeCaptureAccess access(c.arguments, c.environment);
        EXPECT_EQ(access.enabled, c.enabled);
        EXPECT_EQ(access.directPixelRequests, 0);
    }
}

TEST(NativeCaptureAccessTest, DisabledBrokerIgnoresItsHooks) {
    NativeCaptureAccess access({"sampler"}, {});
    access.selectedStatus = [] { return std::string("ready"); };
    access.selectedAvailable = [] { return true; };
    EXPECT_EQ(access.status(), "capture-disabled");
    EXPECT_FALSE(access.available());
}

TEST(NativeCaptureAccessTest, EnabledBrokerFollowsHooksUntilPaused) {
    NativeCaptureAccess access({"sampler", "--allow-screen-capture"}, {});
    EXPECT_FALSE(access.available()) << "no hooks, no pixels";

    std::string word = "capture-paused";
    bool hasFrame = false;
    access.selectedStatus = [&] { return word; };
    access.selectedAvailable = [&] { return hasFrame; };
    EXPECT_EQ(access.status(), "capture-paused");
    EXPECT_FALSE(access.available());

    word = "ready";
    hasFrame = true;
    EXPECT_EQ(access.status(), "ready");
    EXPECT_TRUE(access.available());

    access.setPaused(true);
    EXPECT_FALSE(access.available());
    EXPECT_EQ(access.status(), "ready") << "pausing does not change the status word";

    access.setPaused(false);
    EXPECT_TRUE(access.available());
}

TEST(NativeCaptureAccessTest, CircuitUsesTheResolvedPath) {
    const NativeCaptureAccess access({"sampler", "--capture-state"}, {{"VANTU_CAPTURE_STATE_PATH", "/nowhere"}});
    EXPECT_EQ(access.circuit.stateURL, std::nullopt);
    EXPECT_FALSE(access.circuit.blocked);
}

TEST(NativeCaptureAccessTest, MissingCropError) {
    EXPECT_EQ(missingCropError(), (PlatformError{"VantuSelection", 1}));
}

}  // namespace
}  // namespace scene
