#include "accessibility/control_sampler.h"

#include <gtest/gtest.h>

#include "accessibility/fake_platform_for_test.h"
#include "platform/manual_runtime.h"

namespace scene {
namespace {

struct Delivery {
    std::string key;
    std::optional<std::string> focused;
    Records items;
    std::string status;
    bool busyAtDelivery = true;
};

class ControlSamplerTest : public ::testing::Test {
protected:
    void schedule(const std::string& key) {
        sampler.schedule(412, {}, key, std::nullopt, false,
                         [this](std::string k, std::optional<std::string> focused, Records items, std::string status) {
                             deliveries.push_back({std::move(k), std::move(focused), std::move(items),
                                                   std::move(status), sampler.busy});
                         });
    }

    fakes::FakePlatform platform;
    ManualRuntime runtime;
    ControlSampler sampler{platform, runtime};
    std::vector<Delivery> deliveries;
};

TEST_F(ControlSamplerTest, OneWalkAtATimeAndSpacedApart) {
    platform.ax.trusted = false;
    schedule("1:412:412:8731");
    schedule("2:412:412:8731");
    EXPECT_TRUE(sampler.busy);
    EXPECT_TRUE(deliveries.empty()) << "results come back later, on the main queue";

    runtime.runUntilIdle();
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].key, "1:412:412:8731");
    EXPECT_EQ(deliveries[0].focused, std::nullopt);
    EXPECT_TRUE(deliveries[0].items.empty());
    EXPECT_EQ(deliveries[0].status, "permission-required");
    EXPECT_FALSE(deliveries[0].busyAtDelivery);

    runtime.advance(0.15);
    schedule("3:412:412:8731");
    runtime.runUntilIdle();
    EXPECT_EQ(deliveries.size(), 1u) << "within 0.16 s of the last start";

    runtime.advance(0.02);
    schedule("4:412:412:8731");
    runtime.runUntilIdle();
    ASSERT_EQ(deliveries.size(), 2u);
    EXPECT_EQ(deliveries[1].key, "4:412:412:8731");
}

TEST_F(ControlSamplerTest, ClearedStartLetsTheNextWalkGoAtOnce) {
    schedule("1:412:none");
    runtime.runUntilIdle();
    sampler.lastStarted = 0;  // what a focus change does
    schedule("1:412:none");
    runtime.runUntilIdle();
    ASSERT_EQ(deliveries.size(), 2u);
    EXPECT_EQ(deliveries[1].status, "unsupported");
}

TEST_F(ControlSamplerTest, FrameNeedsPositionAndPositiveSize) {
    fakes::FakeAccessibility& ax = platform.ax;
    struct Case {
        const char* name;
        std::optional<AXValue> position;
        std::optional<AXValue> size;
        std::optional<Rect> frame;
    };
    const Case cases[] = {
        {"both", Point{10, 20}, Size{30, 40}, Rect{10, 20, 30, 40}},
        {"zero width", Point{10, 20}, Size{0, 40}, std::nullopt},
        {"negative height", Point{10, 20}, Size{30, -1}, std::nullopt},
        {"no size", Point{10, 20}, std::nullopt, std::nullopt},
        {"size of the wrong kind", Point{10, 20}, Point{30, 40}, std::nullopt},
        {"position as text", std::string("10,20"), Size{30, 40}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Element element = ax.make();
        if (c.position) ax.set(element, "AXPosition", *c.position);
        if (c.size) ax.set(element, "AXSize", *c.size);
        EXPECT_EQ(sampler.frame(element), c.frame);
    }
    EXPECT_EQ(sampler.attribute(ax.make(), "AXRole"), std::nullopt);
}

TEST_F(ControlSamplerTest, DictionaryIsTheStandardisedRect) {
    EXPECT_EQ(ControlSampler::dictionary({110, 60, -100, -40}),
              (Json{{"x", 10.0}, {"y", 20.0}, {"width", 100.0}, {"height", 40.0}}));
}

TEST_F(ControlSamplerTest, IdentitiesStayWhileKnownAndAreTrimmedInBulk) {
    fakes::FakeAccessibility& ax = platform.ax;
    const Element first = ax.make();
    EXPECT_EQ(sampler.identity(first, "412:8731"), "412:8731/ax-1");
    EXPECT_EQ(sampler.identity(ax.make(), "412:8731"), "412:8731/ax-2");
    EXPECT_EQ(sampler.identity(first, "412:8731"), "412:8731/ax-1");

    ControlSampler inputs(platform, runtime, "input");
    EXPECT_EQ(inputs.identity(first, "412:8731"), "412:8731/input-1");

    for (int i = 2; i < 1200; ++i) sampler.identity(ax.make(), "412:8731");
    ASSERT_EQ(sampler.identities.size(), 1200u);
    EXPECT_EQ(sampler.identity(first, "412:8731"), "412:8731/ax-1") << "still within the bound";
    sampler.identity(ax.make(), "412:8731");
    EXPECT_EQ(sampler.identities.size(), 901u);
    EXPECT_EQ(sampler.identity(first, "412:8731"), "412:8731/ax-1202") << "forgotten by the trim";
}

TEST_F(ControlSamplerTest, BelongsFollowsParentsUpToTheLimit) {
    fakes::FakeAccessibility& ax = platform.ax;
    const Element window = ax.make();
    const Element group = ax.make();
    const Element button = ax.make();
    ax.set(group, "AXParent", window);
    ax.set(button, "AXParent", group);
    EXPECT_TRUE(sampler.belongs(button, button, 1));
    EXPECT_TRUE(sampler.belongs(button, window, 3));
    EXPECT_FALSE(sampler.belongs(button, window, 2));
    EXPECT_FALSE(sampler.belongs(window, button, 8)) << "the chain ends at the window";
}

}  // namespace
}  // namespace scene
