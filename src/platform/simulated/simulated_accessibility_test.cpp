#include "platform/simulated/simulated_accessibility.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/manual_runtime.h"
#include "platform/simulated/scene_loader.h"

namespace scene::simulated {
namespace {

// Application 5 owns a window covered on its right by a window of 6; 9 is a
// Dock-like application with a global list; 11 answers every read with an error.
const char* const kDesktop = R"({
    "format": 1,
    "applications": [
        {"pid": 5}, {"pid": 6},
        {"pid": 9, "ax": {"children": [{"id": "shelf", "role": "AXList", "frame": [100, 800, 400, 60],
                                        "children": [{"id": "item", "frame": [110, 805, 50, 50]}]}]}},
        {"pid": 11, "ax": {"error": -25204}}
    ],
    "windows": [
        {"pid": 6, "number": 20, "bounds": [300, 100, 200, 200], "ax": {"id": "cover"}},
        {"pid": 5, "number": 1, "bounds": [100, 100, 400, 300], "ax": {"id": "win", "subrole": "AXStandardWindow",
            "children": [
                {"id": "toolbar", "role": "AXToolbar", "frame": [0, 0, 400, 40], "hidden": false,
                 "visibleChildren": ["b2"], "children": [
                    {"id": "b1", "role": "AXButton", "frame": [10, 5, 60, 30], "enabled": true},
                    {"id": "b2", "role": "AXButton", "frame": [300, 5, 60, 30], "enabled": false}]},
                {"id": "group", "children": [
                    {"id": "field", "role": "AXTextField", "frame": [20, 60, 200, 30], "editable": true,
                     "valueSettable": true, "focused": true},
                    {"id": "over", "role": "AXImage", "frame": [150, 60, 100, 30]}]},
                {"id": "broken", "role": "AXButton", "frame": [20, 200, 60, 30], "error": -25202},
                {"id": "plain", "frame": [20, 250, 60, 30], "valueSettable": false}]}},
        {"pid": 5, "number": 2, "bounds": [600, 100, 200, 200]},
        {"pid": 11, "number": 3, "bounds": [900, 100, 100, 100], "ax": {"id": "erring"}}
    ]
})";

class SimulatedAccessibilityTest : public ::testing::Test {
protected:
    void load(const std::string& text) {
        auto result = loadScene(text, "test.json", runtime_, {4242, [] { return 4241; }});
        ASSERT_EQ(result.error, "");
        platform_ = std::move(result.platform);
    }

    void apply(const std::string& action) { EXPECT_EQ(platform_->apply(Json::parse(action)), "") << action; }

    Accessibility& ax() { return platform_->accessibility(); }

    // "app:<pid>" names an application element, anything else an element id.
    Element element(const std::string& name) {
        if (name.rfind("app:", 0) == 0) return ax().applicationElement(std::stoi(name.substr(4)));
        const auto model = platform_->model();
        for (const auto& window : model.windows) {
            if (auto node = findAXNode(window.ax, name)) return Element(node);
        }
        for (const auto& application : model.applications) {
            for (const auto& child : application.ax.children) {
                if (auto node = findAXNode(child, name)) return Element(node);
            }
        }
        ADD_FAILURE() << "no element " << name;
        return {};
    }

    std::vector<Element> elements(std::initializer_list<const char*> names) {
        std::vector<Element> list;
        for (const char* name : names) list.push_back(element(name));
        return list;
    }

    ManualRuntime runtime_;
    std::unique_ptr<SimulatedPlatform> platform_;
};

TEST_F(SimulatedAccessibilityTest, AttributesAnswerAsTheSceneSays) {
    load(kDesktop);
    struct Row {
        const char* element;
        const char* attribute;
        int code;
        AXValue value;
    };
    const Row rows[] = {
        {"win", "AXRole", 0, std::string("AXWindow")},
        {"win", "AXSubrole", 0, std::string("AXStandardWindow")},
        {"group", "AXRole", 0, std::string("AXGroup")},
        {"win", "AXPosition", 0, Point{100, 100}},
        {"win", "AXSize", 0, Size{400, 300}},
        {"b1", "AXPosition", 0, Point{110, 105}},
        {"b1", "AXSize", 0, Size{60, 30}},
        {"shelf", "AXPosition", 0, Point{100, 800}},
        {"group", "AXPosition", ax_error::attributeUnsupported, {}},
        {"toolbar", "AXHidden", 0, false},
        {"b1", "AXEnabled", 0, true},
        {"b2", "AXEnabled", 0, false},
        {"field", "AXEditable", 0, true},
        {"b1", "AXEditable", ax_error::attributeUnsupported, {}},
        {"b1", "AXSubrole", ax_error::attributeUnsupported, {}},
        {"b1", "AXValue", ax_error::attributeUnsupported, {}},
        {"b1", "AXFocusedWindow", ax_error::attributeUnsupported, {}},
        {"broken", "AXRole", -25202, {}},
        {"erring", "AXRole", -25204, {}},
        {"app:11", "AXFocusedWindow", -25204, {}},
        {"app:77", "AXRole", ax_error::cannotComplete, {}},
        {"app:5", "AXRole", 0, std::string("AXApplication")},
        {"app:5", "AXParent", ax_error::noValue, {}},
        {"app:9", "AXFocusedWindow", ax_error::noValue, {}},
    };
    for (const auto& row : rows) {
        const auto read = ax().copyAttributeValue(element(row.element), row.attribute);
        EXPECT_EQ(read.code, row.code) << row.element << " " << row.attribute;
        if (row.code == 0) {
            EXPECT_TRUE(read.value == row.value) << row.element << " " << row.attribute;
        }
    }

    struct ElementRow {
        const char* element;
        const char* attribute;
        std::vector<Element> value;
    };
    const ElementRow elementRows[] = {
        {"b1", "AXParent", elements({"toolbar"})},
        {"toolbar", "AXParent", elements({"win"})},
        {"win", "AXParent", elements({"app:5"})},
        {"item", "AXParent", elements({"shelf"})},
        {"shelf", "AXParent", elements({"app:9"})},
        {"app:5", "AXFocusedWindow", elements({"win"})},
        {"app:5", "AXFocusedUIElement", elements({"field"})},
        {"win", "AXChildren", elements({"toolbar", "group", "broken", "plain"})},
        {"toolbar", "AXVisibleChildren", elements({"b2"})},
        {"group", "AXVisibleChildren", elements({"field", "over"})},
        {"app:5", "AXChildren", elements({"win"})},
        {"app:9", "AXChildren", elements({"shelf"})},
    };
    for (const auto& row : elementRows) {
        const auto read = ax().copyAttributeValue(element(row.element), row.attribute);
        ASSERT_TRUE(read.ok()) << row.element << " " << row.attribute << ": " << read.code;
        if (const auto* one = std::get_if<Element>(&read.value)) {
            EXPECT_EQ(std::vector<Element>{*one}, row.value) << row.element << " " << row.attribute;
        } else {
            EXPECT_EQ(std::get<std::vector<Element>>(read.value), row.value) << row.element << " " << row.attribute;
        }
    }

    EXPECT_EQ(ax().processIdentifier(element("b1")).value, 5);
    EXPECT_EQ(ax().processIdentifier(element("item")).value, 9);
    EXPECT_EQ(ax().processIdentifier(element("cover")).value, 6);
    EXPECT_FALSE(ax().processIdentifier(Element()).ok());
}

TEST_F(SimulatedAccessibilityTest, WithoutTrustEveryReadReportsTheInterfaceDisabled) {
    load(kDesktop);
    const Element window = element("win");
    const Element application = element("app:5");
    apply(R"({"do": "trust", "accessibility": false})");
    EXPECT_FALSE(ax().isProcessTrusted());
    EXPECT_EQ(ax().copyAttributeValue(application, "AXFocusedWindow").code, ax_error::apiDisabled);
    EXPECT_EQ(ax().copyAttributeValue(window, "AXRole").code, ax_error::apiDisabled);
    EXPECT_EQ(ax().copyAttributeValues(window, "AXChildren", 0, 180).code, ax_error::apiDisabled);
    EXPECT_EQ(ax().isAttributeSettable(element("field"), "AXValue").code, ax_error::apiDisabled);
    EXPECT_EQ(ax().elementAtPosition(application, 120, 120).code, ax_error::apiDisabled);
    EXPECT_EQ(ax().processIdentifier(window).value, 5) << "an element's process needs no permission";

    apply(R"({"do": "trust", "accessibility": true})");
    EXPECT_TRUE(ax().copyAttributeValue(window, "AXRole").ok());
}

TEST_F(SimulatedAccessibilityTest, FramesFollowTheWindowAndHandlesOutliveChanges) {
    load(kDesktop);
    const Element button = element("b1");
    const Element window = element("win");
    apply(R"({"do": "move-window", "window": "5:1", "to": [30, 50]})");
    apply(R"({"do": "resize-window", "window": "5:1", "size": [420, 310]})");
    EXPECT_TRUE(ax().copyAttributeValue(button, "AXPosition").value == AXValue(Point{40, 55}));
    EXPECT_TRUE(ax().copyAttributeValue(window, "AXSize").value == AXValue(Size{420, 310}));
    EXPECT_EQ(element("b1"), button) << "the same node stays the same element";

    // A window element with a frame of its own sits relative to the window too.
    apply(R"({"do": "set-window", "window": "5:1", "ax": {"id": "win2", "frame": [5, 6, 50, 60]}})");
    EXPECT_TRUE(ax().copyAttributeValue(element("win2"), "AXPosition").value == AXValue(Point{35, 56}));
    EXPECT_TRUE(ax().copyAttributeValue(element("win2"), "AXSize").value == AXValue(Size{50, 60}));
    EXPECT_EQ(ax().copyAttributeValue(button, "AXRole").code, ax_error::invalidElement);
    EXPECT_EQ(ax().copyAttributeValue(window, "AXRole").code, ax_error::invalidElement);
    EXPECT_FALSE(ax().processIdentifier(button).ok());
}

TEST_F(SimulatedAccessibilityTest, ChildRangesAndSettability) {
    load(kDesktop);
    const Element window = element("win");
    EXPECT_EQ(ax().copyAttributeValues(window, "AXChildren", 1, 2).value, elements({"group", "broken"}));
    EXPECT_EQ(ax().copyAttributeValues(window, "AXChildren", 3, 180).value, elements({"plain"}));
    EXPECT_TRUE(ax().copyAttributeValues(window, "AXChildren", 4, 180).value.empty());
    EXPECT_EQ(ax().copyAttributeValues(element("toolbar"), "AXVisibleChildren", 0, 180).value, elements({"b2"}));
    EXPECT_EQ(ax().copyAttributeValues(window, "AXChildren", -1, 2).code, ax_error::illegalArgument);
    EXPECT_EQ(ax().copyAttributeValues(window, "AXRole", 0, 2).code, ax_error::illegalArgument);
    EXPECT_EQ(ax().copyAttributeValues(element("broken"), "AXChildren", 0, 2).code, -25202);

    EXPECT_EQ(ax().isAttributeSettable(element("field"), "AXValue").value, true);
    const auto plain = ax().isAttributeSettable(element("plain"), "AXValue");
    EXPECT_TRUE(plain.ok());
    EXPECT_FALSE(plain.value);
    EXPECT_FALSE(ax().isAttributeSettable(element("b1"), "AXValue").ok()) << "no settability in the scene";
    EXPECT_EQ(ax().isAttributeSettable(element("broken"), "AXValue").code, -25202);
}

TEST_F(SimulatedAccessibilityTest, HitTestingFindsTheFrontMostWindowsDeepestElement) {
    load(kDesktop);
    struct Row {
        float x, y;
        const char* found;  // empty: nothing there
    };
    const Row rows[] = {
        {120, 120, "b1"},       // a button inside the toolbar
        {250, 120, "toolbar"},  // the toolbar between its buttons
        {160, 170, "field"},    // through a group without a frame
        {260, 170, "over"},     // the later of two overlapping siblings
        {340, 170, "cover"},    // another application's window covers it
        {400, 380, "win"},      // the window itself
        {650, 150, ""},         // a window without an element
        {50, 50, ""},           // no window
        {950, 150, "erring"},   // found, though reading it fails
    };
    for (const auto& row : rows) {
        const auto hit = ax().elementAtPosition(element("app:5"), row.x, row.y);
        if (*row.found == '\0') {
            EXPECT_EQ(hit.code, ax_error::noValue) << row.x << "," << row.y;
        } else {
            EXPECT_EQ(hit.value, element(row.found)) << row.x << "," << row.y << " should find " << row.found;
        }
    }
    apply(R"({"do": "hide", "pid": 6})");
    EXPECT_EQ(ax().elementAtPosition(element("app:5"), 340, 170).value, element("over"))
        << "a hidden application's window is no longer in the way";
    EXPECT_EQ(ax().elementAtPosition(element("app:11"), 120, 120).code, -25204);
    EXPECT_EQ(ax().elementAtPosition(element("b1"), 120, 120).code, ax_error::illegalArgument);
}

const char* const kFocusDesktop = R"({
    "format": 1,
    "windows": [
        {"pid": 5, "number": 1, "bounds": [0, 0, 100, 100], "ax": {"id": "w1", "children": [{"id": "a", "focused": true}]}},
        {"pid": 5, "number": 2, "bounds": [0, 0, 100, 100], "ax": {"id": "w2", "children": [{"id": "b"}]}},
        {"pid": 6, "number": 3, "bounds": [0, 0, 100, 100], "ax": {"id": "w3"}}
    ]
})";

struct Heard {
    Element element;
    std::string notification;
    bool operator==(const Heard&) const = default;
};

TEST_F(SimulatedAccessibilityTest, ObserversHearFocusChangesOnTheMainQueueWhileAttached) {
    load(kFocusDesktop);
    std::vector<Heard> heard, heardByOther, heardWindowOnly, heardUnattached;
    const auto observe = [&](std::int32_t pid, std::vector<Heard>& into, bool elements, bool attach) {
        auto observer = ax().createObserver(pid, [&into](const Element& element, const std::string& name) {
            into.push_back({element, name});
        });
        EXPECT_EQ(observer->addNotification(ax().applicationElement(pid), kFocusedWindowChanged), 0);
        if (elements) {
            EXPECT_EQ(observer->addNotification(ax().applicationElement(pid), kFocusedUIElementChanged), 0);
        }
        if (attach) observer->attachToMainLoop();
        return observer;
    };
    auto observer = observe(5, heard, true, true);
    auto other = observe(6, heardByOther, true, true);
    auto windowOnly = observe(5, heardWindowOnly, false, true);
    auto unattached = observe(5, heardUnattached, true, false);

    apply(R"({"do": "focus-window", "pid": 5, "window": "5:2"})");
    apply(R"({"do": "focus-element", "pid": 5, "element": "b"})");
    EXPECT_TRUE(heard.empty()) << "nothing is delivered from inside the change";
    runtime_.runUntilIdle();
    const std::vector<Heard> expected{{element("w2"), "AXFocusedWindowChanged"},
                                      {element("b"), "AXFocusedUIElementChanged"}};
    EXPECT_EQ(heard, expected);
    EXPECT_EQ(heardWindowOnly, std::vector<Heard>{expected[0]});
    EXPECT_TRUE(heardByOther.empty());
    EXPECT_TRUE(heardUnattached.empty());

    // An application with nothing focused names itself.
    apply(R"({"do": "focus-element", "pid": 6, "element": "nothing"})");
    runtime_.runUntilIdle();
    EXPECT_EQ(heardByOther, (std::vector<Heard>{{ax().applicationElement(6), "AXFocusedUIElementChanged"}}));

    heard.clear();
    observer->detachFromMainLoop();
    apply(R"({"do": "focus-window", "pid": 5, "window": "5:1"})");
    runtime_.runUntilIdle();
    EXPECT_TRUE(heard.empty());

    // Queued deliveries find their observer gone, then the whole platform.
    heardWindowOnly.clear();
    apply(R"({"do": "focus-window", "pid": 5, "window": "5:2"})");
    windowOnly.reset();
    runtime_.runUntilIdle();
    EXPECT_TRUE(heardWindowOnly.empty());
    observer->attachToMainLoop();
    apply(R"({"do": "focus-window", "pid": 5, "window": "5:1"})");
    platform_.reset();
    runtime_.runUntilIdle();
    EXPECT_TRUE(heard.empty());
    observer.reset();
}

TEST_F(SimulatedAccessibilityTest, ObserversRegisterFocusNotificationsOnTheirApplicationOnly) {
    load(kFocusDesktop);
    std::unique_ptr<AXObserver> observer;
    int calls = 0;
    // Like the sampler's focus watch, the callback may replace its own observer.
    observer = ax().createObserver(5, [&](const Element&, const std::string&) {
        ++calls;
        observer.reset();
    });
    ASSERT_TRUE(observer);
    EXPECT_EQ(observer->addNotification(ax().applicationElement(6), kFocusedWindowChanged), ax_error::illegalArgument);
    EXPECT_EQ(observer->addNotification(element("w1"), kFocusedWindowChanged), ax_error::illegalArgument);
    EXPECT_NE(observer->addNotification(ax().applicationElement(5), "AXTitleChanged"), 0);
    EXPECT_EQ(observer->addNotification(ax().applicationElement(5), kFocusedWindowChanged), 0);
    EXPECT_NE(observer->addNotification(ax().applicationElement(5), kFocusedWindowChanged), 0) << "twice";
    observer->attachToMainLoop();
    apply(R"({"do": "focus-window", "pid": 5, "window": "5:2"})");
    apply(R"({"do": "focus-window", "pid": 5, "window": "5:1"})");
    runtime_.runUntilIdle();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(ax().createObserver(5, nullptr));
}

TEST_F(SimulatedAccessibilityTest, ReadersOnAnotherThreadWhileTheTimelineChangesTrees) {
    load(R"({
        "format": 1,
        "windows": [{"pid": 5, "number": 1, "bounds": [0, 0, 200, 200],
                     "ax": {"children": [{"role": "AXButton", "frame": [10, 10, 60, 20]}]}}],
        "timeline": [
            {"at": 0.01, "do": "move-window", "window": "5:1", "to": [40, 40]},
            {"at": 0.02, "do": "set-window", "window": "5:1",
             "ax": {"children": [{"id": "x", "frame": [0, 0, 90, 90], "children": [{"frame": [5, 5, 9, 9]}]}]}},
            {"at": 0.03, "do": "focus-element", "pid": 5, "element": "x"},
            {"at": 0.04, "do": "set-window", "window": "5:1", "ax": null},
            {"at": 0.05, "do": "move-window", "window": "5:1", "to": [0, 0]}
        ],
        "repeat": 0.05
    })");
    Accessibility& accessibility = ax();
    std::atomic<bool> done{false};
    std::atomic<int> unexpected{0};
    std::thread reader([&] {
        const Element application = accessibility.applicationElement(5);
        for (int i = 0; i < 20000 && !done.load(); ++i) {
            const auto window = accessibility.copyAttributeValue(application, "AXFocusedWindow");
            if (const auto* element = std::get_if<Element>(&window.value)) {
                const auto children = accessibility.copyAttributeValues(*element, "AXChildren", 0, 180);
                for (const auto& child : children.value) {
                    const auto size = accessibility.copyAttributeValue(child, "AXSize");
                    if (!size.ok() && size.code != ax_error::invalidElement) ++unexpected;
                    accessibility.copyAttributeValue(child, "AXParent");
                }
            } else if (window.code != ax_error::noValue) {
                ++unexpected;
            }
            accessibility.elementAtPosition(application, 50, 50);
        }
    });
    for (int i = 0; i < 2000; ++i) runtime_.advance(0.01);
    done = true;
    reader.join();
    EXPECT_EQ(unexpected.load(), 0);
}

}  // namespace
}  // namespace scene::simulated
