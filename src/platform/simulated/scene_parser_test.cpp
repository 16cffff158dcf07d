#include "platform/simulated/scene_parser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/manual_runtime.h"
#include "platform/simulated/scene_loader.h"

namespace scene::simulated {
namespace {

using ::testing::EndsWith;
using ::testing::StartsWith;

ProcessFacts testFacts() {
    return {4242, [] { return 4241; }};
}

std::string refusal(const std::string& text) {
    ManualRuntime runtime;
    const auto result = loadScene(text, "scene.json", runtime, testFacts());
    EXPECT_EQ(result.platform, nullptr) << text;
    return result.error;
}

std::string withWindow(const std::string& window) { return R"({"format": 1, "windows": [)" + window + "]}"; }
std::string withTimeline(const std::string& entries) { return R"({"format": 1, "timeline": [)" + entries + "]}"; }

struct Refusal {
    std::string text;
    std::string line;
};

TEST(SceneParserTest, RefusesInvalidScenesWithOneLineNamingThePlace) {
    const std::string window = R"({"pid": 1, "number": 2, "bounds": [0, 0, 10, 10]})";
    const Refusal cases[] = {
        {"[]", "scene.json: $: must be an object"},
        {"{}", "scene.json: format: required key is missing"},
        {R"({"format": 2})", "scene.json: format: unsupported format 2, expected 1"},
        {R"({"format": "1"})", "scene.json: format: must be an integer"},
        {R"({"format": 1, "colour": "#ffffff"})", "scene.json: colour: unknown key"},
        {withWindow(R"({"pid": 1, "number": 2, "bounds": [0, 0, 1, 1], "shadow": true})"),
         "scene.json: windows[0].shadow: unknown key"},
        {withWindow(R"({"pid": 1, "number": 2, "bounds": [0, 0, 1, 1], "layer": 1.5})"),
         "scene.json: windows[0].layer: must be an integer"},
        {withWindow(R"({"pid": 1, "number": 2, "bounds": [0, 0, 1]})"),
         "scene.json: windows[0].bounds: must be a rectangle [x, y, width, height]"},
        {withWindow(R"({"pid": 1, "number": 2})"), "scene.json: windows[0].bounds: required key is missing"},
        {withWindow(R"({"number": 2, "raw": {}})"), "scene.json: windows[0].pid: required key is missing"},
        {withWindow(R"({"pid": 2147483648, "number": 2, "bounds": [0, 0, 1, 1]})"),
         "scene.json: windows[0].pid: must be a 32-bit signed integer"},
        {withWindow(R"({"pid": 1, "number": 2, "bounds": [0, 0, 1, 1], "fill": "red"})"),
         R"(scene.json: windows[0].fill: must be a colour "#rrggbb")"},
        {withWindow(R"({"pid": 1, "number": 2, "bounds": [0, 0, 1, 1], "alpha": null})"),
         "scene.json: windows[0].alpha: must be a number"},
        {withWindow(window + ", " + window), R"(scene.json: windows[1]: window id "1:2" used twice)"},
        {withWindow(R"({"pid": 1, "number": 2, "bounds": [0, 0, 1, 1], "panels": [{"fill": "#000000"}]})"),
         "scene.json: windows[0].panels[0].bounds: required key is missing"},
        {withWindow(R"({"pid": 1, "number": 2, "bounds": [0, 0, 1, 1],
                        "ax": {"children": [{"role": "AXButton"}, {"role": 3}]}})"),
         "scene.json: windows[0].ax.children[1].role: must be a string"},
        {withWindow(R"({"pid": 1, "number": 2, "bounds": [0, 0, 1, 1],
                        "ax": {"children": [{"id": "a"}], "visibleChildren": ["b"]}})"),
         R"(scene.json: windows[0].ax.visibleChildren[0]: no child has the id "b")"},
        {R"({"format": 1, "displays": [{"bounds": [0, 0, 1, 1]}]})",
         "scene.json: displays[0].id: required key is missing"},
        {R"({"format": 1, "displays": [{"id": 1, "bounds": [0, 0, 1, 1]}, {"id": 1, "bounds": [1, 0, 1, 1]}]})",
         "scene.json: displays[1].id: display id 1 used twice"},
        {R"({"format": 1, "displays": [{"id": -1, "bounds": [0, 0, 1, 1]}]})",
         "scene.json: displays[0].id: must be a 32-bit unsigned integer"},
        {R"({"format": 1, "applications": [{"pid": 5, "bundleId": 5}]})",
         "scene.json: applications[0].bundleId: must be a string or null"},
        {R"({"format": 1, "applications": [{"pid": 5}, {"pid": 5}]})",
         "scene.json: applications[1].pid: pid 5 used twice"},
        {R"({"format": 1, "applications": [{"pid": 5, "ax": {"children": [{"frame": "wide"}]}}]})",
         "scene.json: applications[0].ax.children[0].frame: must be a rectangle [x, y, width, height]"},
        {R"({"format": 1, "picker": {"action": "maybe"}})",
         R"(scene.json: picker.action: must be "select", "cancel", "fail" or "none")"},
        {R"({"format": 1, "picker": {"displays": [1, "two"]}})", "scene.json: picker.displays[1]: must be an integer"},
        {R"({"format": 1, "stream": {"stop": "later"}})",
         R"(scene.json: stream.stop: must be "completes", "hangs" or an error code)"},
        {R"({"format": 1, "stream": {"fps": 0}})", "scene.json: stream.fps: must be greater than 0"},
        {R"({"format": 1, "system": {"version": "14"}})",
         R"(scene.json: system.version: must be a version "major.minor[.patch]")"},
        {R"({"format": 1, "input": {"counters": {"mouse": 1}}})",
         "scene.json: input.counters.mouse: must be keyed by an event type in decimal"},
        {R"({"format": 1, "session": 5})", "scene.json: session: must be an object or null"},
        {R"({"format": 1, "windowList": "broken"})",
         R"(scene.json: windowList: must be "available", "unavailable" or "malformed")"},
        {R"({"format": 1, "repeat": 0})", "scene.json: repeat: must be greater than 0"},
        {withTimeline("5"), "scene.json: timeline[0]: must be an object"},
        {withTimeline(R"({"at": 1})"), "scene.json: timeline[0].do: required key is missing"},
        {withTimeline(R"({"do": "hide", "pid": 5})"), "scene.json: timeline[0].at: required key is missing"},
        {withTimeline(R"({"at": -1, "do": "hide", "pid": 5})"), "scene.json: timeline[0].at: must not be negative"},
        {withTimeline(R"({"at": 1, "do": "hide", "pid": 5, "window": "5:1"})"),
         "scene.json: timeline[0].window: unknown key"},
        {withTimeline(R"({"at": 1, "do": "move-window", "window": "5:1", "to": [1]})"),
         "scene.json: timeline[0].to: must be a point [x, y]"},
        {withTimeline(R"({"at": 1, "do": "raise-window", "window": "5"})"),
         R"(scene.json: timeline[0].window: must be a window reference "pid:number")"},
        {withTimeline(R"({"at": 1, "do": "set-window", "window": "5:1", "layer": "top"})"),
         "scene.json: timeline[0].layer: must be an integer"},
        {withTimeline(R"({"at": 1, "do": "add-window", "window": {"pid": 5, "bounds": [0, 0, 1, 1]}})"),
         "scene.json: timeline[0].window.number: required key is missing"},
        {withTimeline(R"({"at": 1, "do": "space", "windows": [)" + window + ", " + window + "]}"),
         R"(scene.json: timeline[0].windows[1]: window id "1:2" used twice)"},
        {withTimeline(R"({"at": 1, "do": "launch", "bundleId": "com.example.late"})"),
         "scene.json: timeline[0].pid: required key is missing"},
        {withTimeline(R"({"at": 1, "do": "display", "id": 1, "asleep": "yes"})"),
         "scene.json: timeline[0].asleep: must be true or false"},
        {withTimeline(R"({"at": 1, "do": "stream-error", "domain": "SCStreamErrorDomain"})"),
         "scene.json: timeline[0].code: required key is missing"},
        {withTimeline(R"({"at": 1, "do": "session", "value": [1]})"),
         "scene.json: timeline[0].value: must be an object or null"},
    };
    for (const auto& [text, line] : cases) EXPECT_EQ(refusal(text), line) << text;
}

TEST(SceneParserTest, NamesTheUnknownActionOfTheFourthEntry) {
    const std::string text = withTimeline(R"(
        {"at": 0.5, "do": "hide", "pid": 1}, {"at": 1, "do": "unhide", "pid": 1},
        {"at": 2, "do": "screens-sleep"}, {"at": 3, "do": "jump"})");
    // The line lists what would have been understood, first to last.
    EXPECT_THAT(refusal(text), StartsWith(R"(scene.json: timeline[3].do: unknown action "jump" (the actions are )"
                                          "add-window, remove-window, "));
    EXPECT_THAT(refusal(text), EndsWith(", hide, unhide, terminate, space, focus-window, focus-element, session, input, trust, "
                                        "screens-sleep, screens-wake, system-sleep, system-wake, display, window-list, "
                                        "picker, stream, stream-error)"));
}

TEST(SceneParserTest, RefusesTextThatIsNotJson) {
    EXPECT_THAT(refusal("{\"format\": 1,"), StartsWith("scene.json: $: not valid JSON: "));
    EXPECT_THAT(refusal(""), StartsWith("scene.json: $: not valid JSON: "));
    EXPECT_EQ(refusal(R"({"format": 1, "repeat": 1e400})"),
              "scene.json: $: not valid JSON: number overflow parsing '1e400'");
}

TEST(SceneParserTest, FillsEveryDefault) {
    const auto parsed = parseScene(R"({"format": 1})");
    ASSERT_TRUE(parsed.value) << parsed.error.describe();
    const Scene& scene = *parsed.value;
    const DesktopModel& desktop = scene.desktop;

    EXPECT_EQ(desktop.system.version.major, 14);
    EXPECT_EQ(desktop.system.version.minor, 5);
    EXPECT_EQ(desktop.system.version.patch, 0);
    EXPECT_TRUE(desktop.system.accessibility);
    EXPECT_TRUE(desktop.system.screenCapture);
    EXPECT_EQ(desktop.system.home, "/Users/demo");
    EXPECT_EQ(desktop.system.bundleId, std::nullopt);
    EXPECT_EQ(desktop.system.dockLevel, 20);

    ASSERT_EQ(desktop.displays.size(), 1u);
    EXPECT_EQ(desktop.displays[0].id, 1u);
    EXPECT_EQ(desktop.displays[0].bounds, (Rect{0, 0, 1440, 900}));
    EXPECT_EQ(desktop.displays[0].uuid, defaultDisplayUUID(1));
    EXPECT_TRUE(desktop.displays[0].active);
    EXPECT_FALSE(desktop.displays[0].asleep);
    EXPECT_EQ(desktop.displays[0].background, 0x30507au);

    EXPECT_TRUE(desktop.applications.empty());
    EXPECT_EQ(desktop.frontmost, std::nullopt);
    EXPECT_EQ(desktop.session, (Json{{"CGSSessionScreenIsLocked", false}, {"kCGSSessionOnConsoleKey", true}}));
    EXPECT_FALSE(desktop.input.leftButtonDown);
    EXPECT_EQ(desktop.input.modifierFlags, 0u);
    EXPECT_TRUE(desktop.input.counters.empty());
    EXPECT_TRUE(desktop.windows.empty());
    EXPECT_EQ(desktop.windowList, WindowListState::available);

    EXPECT_EQ(desktop.picker.action, PickerSettings::Action::select);
    EXPECT_EQ(desktop.picker.display, 1u);
    EXPECT_EQ(desktop.picker.style, ContentFilter::Style::display);
    EXPECT_EQ(desktop.picker.contentRect, std::nullopt);
    EXPECT_DOUBLE_EQ(desktop.picker.after, 0.2);
    EXPECT_EQ(desktop.picker.code, -3801);

    EXPECT_DOUBLE_EQ(desktop.stream.fps, 5);
    EXPECT_EQ(desktop.stream.status, 0);
    EXPECT_DOUBLE_EQ(desktop.stream.latency, 0.02);
    EXPECT_TRUE(desktop.stream.deliver);
    EXPECT_EQ(desktop.stream.addOutputError, std::nullopt);
    EXPECT_EQ(desktop.stream.startError, std::nullopt);
    EXPECT_EQ(desktop.stream.stop, StreamSettings::Stop::completes);

    EXPECT_TRUE(scene.timeline.empty());
    EXPECT_EQ(scene.repeat, std::nullopt);
}

TEST(SceneParserTest, WindowAndElementDefaults) {
    const auto parsed = parseScene(withWindow(R"({"pid": 7, "number": 3, "bounds": [1, 2, 30, 40],
        "ax": {"children": [{"id": "ok", "role": "AXButton", "focused": true}, {}]}})"));
    ASSERT_TRUE(parsed.value) << parsed.error.describe();
    const DesktopModel& desktop = parsed.value->desktop;
    ASSERT_EQ(desktop.windows.size(), 1u);
    const WindowModel& window = desktop.windows[0];
    EXPECT_EQ(window.layer, 0);
    EXPECT_EQ(window.alpha, std::nullopt);
    EXPECT_EQ(window.fill, kDefaultWindowFill);
    EXPECT_EQ(window.border, kDefaultWindowBorder);
    EXPECT_EQ(window.titleBar, 0);
    EXPECT_FALSE(window.raw);
    ASSERT_TRUE(window.ax);
    EXPECT_EQ(window.ax->role, "AXWindow");
    EXPECT_EQ(window.ax->frame, std::nullopt);
    ASSERT_EQ(window.ax->children.size(), 2u);
    EXPECT_EQ(window.ax->children[1]->role, "AXGroup");
    EXPECT_EQ(window.ax->children[1]->parent.lock(), window.ax);
    // The window's owner runs even though the scene lists no applications.
    ASSERT_EQ(desktop.applications.size(), 1u);
    EXPECT_EQ(desktop.applications[0].pid, 7);
    EXPECT_EQ(desktop.applications[0].bundleId, std::nullopt);
    EXPECT_EQ(desktop.focusedWindowElement(7), window.ax);
    EXPECT_EQ(desktop.focusedElement(7), window.ax->children[0]);
}

TEST(SceneParserTest, AcceptsEveryActionOfTheFormat) {
    const auto parsed = parseScene(withTimeline(R"(
        {"at": 0, "do": "add-window", "window": {"pid": 1, "number": 2, "bounds": [0, 0, 5, 5]}, "index": 1},
        {"at": 0, "do": "remove-window", "window": "1:2"},
        {"at": 0, "do": "move-window", "window": "1:2", "to": [3, 4]},
        {"at": 0, "do": "resize-window", "window": "1:2", "size": [3, 4]},
        {"at": 0, "do": "set-window", "window": "1:2", "alpha": null, "raw": {"kCGWindowLayer": "x"}, "ax": null},
        {"at": 0, "do": "raise-window", "window": "1:2"},
        {"at": 0, "do": "launch", "pid": 9, "bundleId": "com.example.late", "bundlePath": null},
        {"at": 0, "do": "launch", "application": {"pid": 10}},
        {"at": 0, "do": "activate", "pid": 9}, {"at": 0, "do": "hide", "pid": 9},
        {"at": 0, "do": "unhide", "pid": 9}, {"at": 0, "do": "terminate", "pid": 9},
        {"at": 0, "do": "space", "windows": []},
        {"at": 0, "do": "focus-window", "pid": 1, "window": "1:2"},
        {"at": 0, "do": "focus-element", "pid": 1, "element": "text"},
        {"at": 0, "do": "session", "value": null},
        {"at": 0, "do": "input", "leftButtonDown": true, "modifierFlags": 1048576, "counters": {"1": 4}},
        {"at": 0, "do": "trust", "accessibility": false, "screenCapture": false},
        {"at": 0, "do": "screens-sleep"}, {"at": 0, "do": "screens-wake"},
        {"at": 0, "do": "system-sleep"}, {"at": 0, "do": "system-wake"},
        {"at": 0, "do": "display", "id": 1, "active": false, "uuid": null, "bounds": [0, 0, 800, 600]},
        {"at": 0, "do": "window-list", "state": "malformed"},
        {"at": 0, "do": "picker", "action": "fail", "code": -3805, "displays": [1, 2], "style": "window"},
        {"at": 0, "do": "stream", "fps": 2, "stop": -3808, "startError": null, "deliver": false},
        {"at": 0, "do": "stream-error", "code": -3815})"));
    ASSERT_TRUE(parsed.value) << parsed.error.describe();
    EXPECT_EQ(parsed.value->timeline.size(), 27u);
}

}  // namespace
}  // namespace scene::simulated
