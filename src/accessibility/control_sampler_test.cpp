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
                             deliveries.push_back(
                                 {std::move(k), std::move(focused), std::move(items), std::move(status), sampler.busy});
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

namespace scene {
namespace {

constexpr std::int32_t kPID = 412;
constexpr const char* kKey = "1:412:412:8731";
constexpr Rect kWindowFrame{100, 100, 800, 600};

Json windowRecord(Json id, Rect frame, std::int32_t pid = kPID) {
    return Json{{"id", std::move(id)}, {"pid", pid},           {"x", frame.x},
                {"y", frame.y},        {"width", frame.width}, {"height", frame.height}};
}

// The front application with one focused window at kWindowFrame, its window
// record, and a walk on the test's thread against a clock the test can push.
struct Desk {
    Desk() {
        ax.setApplication(kPID, application);
        ax.set(application, "AXFocusedWindow", window);
        ax.hitOrder = {window};
    }

    ControlSampler::ScanResult walk(bool inputsOnly = false, const std::string& key = kKey,
                                    std::optional<std::string> anchor = std::nullopt) {
        return sampler.scan(kPID, windows, key, anchor, inputsOnly);
    }

    fakes::FakePlatform platform;
    fakes::FakeAccessibility& ax = platform.ax;
    ManualRuntime manual;
    fakes::SteppedRuntime runtime{manual};
    ControlSampler sampler{platform, runtime};
    Element application = ax.make();
    Element window = ax.add({}, "AXWindow", kWindowFrame);
    Records windows{windowRecord("412:8731", kWindowFrame)};
};

std::vector<std::string> ids(const ControlSampler::ScanResult& result) {
    std::vector<std::string> found;
    for (const Json& item : result.items) found.push_back(item["id"].get<std::string>());
    return found;
}

bool reportedAt(const ControlSampler::ScanResult& result, double x) {
    return std::any_of(result.items.begin(), result.items.end(), [x](const Json& item) { return item["x"] == x; });
}

TEST(ControlWalkTest, MinimumWidthsAndHiddenSubtrees) {
    struct Case {
        const char* role;
        double width;
        bool hidden;
        bool reported;
    };
    const Case cases[] = {
        {"AXButton", 40, false, false},   {"AXButton", 54, false, true},     {"AXToolbar", 53.5, false, false},
        {"AXTextField", 30, false, true}, {"AXTextField", 23, false, false}, {"AXSplitter", 2, false, true},
        {"AXButton", 60, true, false},
    };
    Desk desk;
    const Element hidden = desk.ax.add(desk.window, "AXGroup");
    desk.ax.set(hidden, "AXHidden", true);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        desk.ax.add(cases[i].hidden ? hidden : desk.window, cases[i].role,
                    Rect{120.0 + 100.0 * i, 120, cases[i].width, 30});
    }
    const auto result = desk.walk();
    EXPECT_EQ(result.status, "ready");
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(std::string(cases[i].role) + " " + std::to_string(cases[i].width));
        EXPECT_EQ(reportedAt(result, 120.0 + 100.0 * i), cases[i].reported);
    }
}

TEST(ControlWalkTest, RecordsCarryTheirKindsAndTheFocusedInputComesFirst) {
    Desk desk;
    desk.ax.add(desk.window, "AXButton", Rect{120, 120, 80, 30});
    const Element field = desk.ax.add(desk.window, "AXTextField", Rect{300, 120, 200.5, 24});
    desk.ax.set(field, "AXSubrole", std::string("AXSearchField"));
    desk.ax.set(field, "AXEditable", true);
    desk.ax.setSettable(field, "AXValue", true);
    desk.ax.set(desk.application, "AXFocusedUIElement", field);

    const auto result = desk.walk();
    ASSERT_EQ(result.windowID, "412:8731");
    ASSERT_EQ(result.items.size(), 2u);
    const Json bounds{{"x", 100.0}, {"y", 100.0}, {"width", 800.0}, {"height", 600.0}};
    EXPECT_EQ(result.items[0], (Json{{"id", "412:8731/ax-1"},
                                     {"windowId", "412:8731"},
                                     {"pid", 412},
                                     {"role", "AXSearchField"},
                                     {"clip", bounds},
                                     {"windowBounds", bounds},
                                     {"focused", true},
                                     {"enabled", true},
                                     {"editable", true},
                                     {"valueWritable", true},
                                     {"x", 300.0},
                                     {"y", 120.0},
                                     {"width", 200.5},
                                     {"height", 24.0}}));
    EXPECT_TRUE(result.items[0]["pid"].is_number_integer());
    EXPECT_TRUE(result.items[0]["x"].is_number_float());
    const Json& button = result.items[1];
    EXPECT_EQ(button["role"], "AXButton");
    EXPECT_FALSE(button.contains("focused") || button.contains("enabled") || button.contains("editable") ||
                 button.contains("valueWritable"));
    EXPECT_TRUE(button["width"].is_number_float());
}

TEST(ControlWalkTest, CoveredAndScrolledOutControlsAreNotReported) {
    Desk desk;
    fakes::FakeAccessibility& ax = desk.ax;
    const Element cover = ax.add({}, "AXWindow", Rect{500, 100, 300, 300});  // another application's window
    ax.add(desk.window, "AXButton", Rect{520, 150, 100, 30});                // under it
    ax.add(desk.window, "AXButton", Rect{520, 450, 100, 30});                // below it
    const Element scroll = ax.add(desk.window, "AXScrollArea", Rect{120, 300, 300, 200});
    ax.add(scroll, "AXButton", Rect{140, 320, 100, 30});
    const Element gone = ax.add(scroll, "AXButton", Rect{140, 600, 100, 30});
    // The application still answers with the scrolled-out button where it would be.
    ax.hitOrder = {cover, gone, desk.window};

    const auto result = desk.walk();
    std::vector<std::pair<double, double>> places;
    for (const Json& item : result.items) places.emplace_back(item["x"], item["y"]);
    EXPECT_EQ(places, (std::vector<std::pair<double, double>>{{520, 450}, {120, 300}, {140, 320}}));
    EXPECT_EQ(result.items[2]["clip"], (Json{{"x", 120.0}, {"y", 300.0}, {"width", 300.0}, {"height", 200.0}}));
}

TEST(ControlWalkTest, IdentitiesHoldWhileTheKeyHolds) {
    Desk desk;
    desk.ax.add(desk.window, "AXButton", Rect{120, 120, 80, 30});
    desk.ax.add(desk.window, "AXButton", Rect{220, 120, 80, 30});
    const std::vector<std::string> first{"412:8731/ax-1", "412:8731/ax-2"};
    EXPECT_EQ(ids(desk.walk()), first);
    EXPECT_EQ(ids(desk.walk()), first);
    EXPECT_EQ(ids(desk.walk(false, "2:412:412:8731")), (std::vector<std::string>{"412:8731/ax-3", "412:8731/ax-4"}));
}

TEST(ControlWalkTest, WindowThatChangesDuringTheWalkGivesNothing) {
    for (const double grown : {1.0, 0.4}) {
        SCOPED_TRACE(grown);
        Desk desk;
        const Element button = desk.ax.add(desk.window, "AXButton", Rect{120, 120, 80, 30});
        desk.ax.onRead = [&](const Element& element, std::string_view name) {
            if (element == button && name == "AXRole") desk.ax.setFrame(desk.window, {100, 100, 800 + grown, 600});
        };
        const auto result = desk.walk();
        EXPECT_EQ(result.windowID, "412:8731");
        EXPECT_EQ(result.status, grown >= 0.5 ? "unsupported" : "ready");
        EXPECT_EQ(result.items.size(), grown >= 0.5 ? 0u : 1u);
    }
}

TEST(ControlWalkTest, WalksThatCannotStart) {
    struct Case {
        const char* name;
        std::function<void(Desk&)> arrange;
        std::optional<std::string> windowID;
        std::string status;
    };
    const auto records = [](Records list) { return [list](Desk& desk) { desk.windows = list; }; };
    const Case cases[] = {
        {"no permission", [](Desk& desk) { desk.ax.trusted = false; }, std::nullopt, "permission-required"},
        {"interface disabled", [](Desk& desk) { desk.ax.fail(desk.application, "AXFocusedWindow", -25211); },
         std::nullopt, "permission-required"},
        {"focused window unreadable", [](Desk& desk) { desk.ax.fail(desk.application, "AXFocusedWindow", -25204); },
         std::nullopt, "unsupported"},
        {"focused window not an element",
         [](Desk& desk) { desk.ax.set(desk.application, "AXFocusedWindow", std::string("window")); }, std::nullopt,
         "unsupported"},
        {"window without frame", [](Desk& desk) { desk.ax.fail(desk.window, "AXSize", -25212); }, std::nullopt,
         "unsupported"},
        {"within 16 and 24 points", records({windowRecord("412:1", {116, 84, 824, 576})}), "412:1", "ready"},
        {"17 points off", records({windowRecord("412:1", {117, 100, 800, 600})}), std::nullopt, "unsupported"},
        {"25 points wider", records({windowRecord("412:1", {100, 100, 825, 600})}), std::nullopt, "unsupported"},
        {"closest wins, ties keep the earlier",
         records({windowRecord("412:1", {105, 100, 800, 600}), windowRecord("412:2", {100, 102, 800, 602}),
                  windowRecord("412:3", {102, 100, 802, 600})}),
         "412:2", "ready"},
        {"other application's window", records({windowRecord("413:1", kWindowFrame, 413)}), std::nullopt,
         "unsupported"},
        {"id not a string", records({windowRecord(8731, kWindowFrame)}), std::nullopt, "unsupported"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Desk desk;
        desk.ax.add(desk.window, "AXButton", Rect{120, 120, 80, 30});
        c.arrange(desk);
        const auto result = desk.walk();
        EXPECT_EQ(result.windowID, c.windowID);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.items.size(), c.status == "ready" ? 1u : 0u);
    }
}

TEST(ControlWalkTest, AnchorIsExaminedFirstInItsContainersClip) {
    Desk desk;
    fakes::FakeAccessibility& ax = desk.ax;
    ax.add(desk.window, "AXButton", Rect{600, 120, 80, 30});
    const Element scroll = ax.add(desk.window, "AXScrollArea", Rect{80, 300, 300, 200});  // overhangs the window
    const Element group = ax.add(scroll, "AXGroup", Rect{80, 300, 300, 200});
    ax.add(group, "AXButton", Rect{140, 320, 100, 30});

    const auto before = desk.walk();
    ASSERT_EQ(before.items.size(), 3u);
    const Json anchored = before.items[2];
    const auto after = desk.walk(false, kKey, anchored["id"].get<std::string>());
    ASSERT_EQ(after.items.size(), 3u) << "examined once";
    EXPECT_EQ(after.items[0], anchored) << "same identity and clip as found by the walk";
    EXPECT_EQ(anchored["clip"], (Json{{"x", 100.0}, {"y", 300.0}, {"width", 280.0}, {"height", 200.0}}));
}

TEST(ControlWalkTest, DeadlineOnTheRuntimeClockEndsTheWalk) {
    Desk desk;
    for (int i = 0; i < 7; ++i) {
        for (int j = 0; j < 8; ++j) desk.ax.add(desk.window, "AXButton", Rect{110.0 + 90 * j, 110.0 + 80 * i, 60, 30});
    }
    EXPECT_EQ(desk.walk().items.size(), 56u);
    desk.ax.onRead = [&](const Element&, std::string_view) { desk.runtime.ahead += 0.001; };
    const auto slow = desk.walk();
    EXPECT_EQ(slow.status, "ready");
    EXPECT_GT(slow.items.size(), 10u);
    EXPECT_LT(slow.items.size(), 56u);
}

TEST(ControlWalkTest, InputsWalkResumesWhereItStoppedWithKnownInputsFirst) {
    // Ten bands of 150 entries each: more than one walk visits.
    Desk desk;
    fakes::FakeAccessibility& ax = desk.ax;
    Element early;
    Element late;
    for (int band = 0; band < 10; ++band) {
        const Element group = ax.add(desk.window, "AXGroup", Rect{100, 100.0 + 60 * band, 800, 60});
        for (int i = 0; i < 150; ++i) {
            if (band == 0 && i == 5) {
                early = ax.add(group, "AXTextArea", Rect{120, 110, 300, 40});
            } else if (band == 8 && i == 100) {
                late = ax.add(group, "AXTextField", Rect{120, 590, 300, 24});
            } else {
                ax.add(group, "AXStaticText");
            }
        }
    }
    const auto first = desk.walk(true);
    ASSERT_EQ(first.items.size(), 1u);
    const std::string earlyID = first.items[0]["id"];
    // The rest of the seventh band and the three bands not opened yet.
    EXPECT_EQ(desk.sampler.inputPending.size(), 61u);

    const auto second = desk.walk(true);
    ASSERT_EQ(second.items.size(), 2u);
    EXPECT_EQ(second.items[0]["id"], earlyID);
    EXPECT_EQ(second.items[1]["y"], 590.0);
    EXPECT_TRUE(desk.sampler.inputPending.empty());

    // A finished walk starts over from the window, known inputs still first
    // (their two visits leave two more entries for later).
    EXPECT_EQ(desk.walk(true).items.size(), 2u);
    EXPECT_EQ(desk.sampler.inputPending.size(), 63u);

    // A window that changed its frame drops the resumable state.
    ax.setFrame(desk.window, {100, 100, 801, 600});
    desk.windows = {windowRecord("412:8731", {100, 100, 801, 600})};
    EXPECT_EQ(ids(desk.walk(true)), std::vector<std::string>{earlyID});
}

TEST(ControlWalkTest, InputsUnderAHitContainerCountWhenTheyTakeText) {
    struct Case {
        std::optional<bool> editable;
        std::optional<bool> settable;
        bool inputsOnly;
        bool reported;
    };
    const Case cases[] = {
        {true, std::nullopt, true, true},          {false, true, true, false},         {std::nullopt, true, true, true},
        {std::nullopt, std::nullopt, true, false}, {true, std::nullopt, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.editable.value_or(-1) << " " << c.settable.value_or(-1) << " " << c.inputsOnly);
        Desk desk;
        const Element web = desk.ax.add(desk.window, "AXGroup", Rect{120, 120, 400, 200});
        const Element area = desk.ax.add(web, "AXTextArea", Rect{140, 140, 300, 100});
        if (c.editable) desk.ax.set(area, "AXEditable", *c.editable);
        if (c.settable) desk.ax.setSettable(area, "AXValue", *c.settable);
        desk.ax.hitTest = [web](float, float) { return web; };
        EXPECT_EQ(desk.walk(c.inputsOnly).items.size(), c.reported ? 1u : 0u);
    }
}

}  // namespace
}  // namespace scene
