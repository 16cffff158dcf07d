#include "platform/simulated/simulated_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/json_read.h"
#include "platform/manual_runtime.h"
#include "platform/simulated/scene_loader.h"

namespace scene::simulated {
namespace {

using ::testing::ElementsAre;

constexpr WorkspaceNotification kAllNotifications[] = {
    WorkspaceNotification::didActivateApplication,
    WorkspaceNotification::didHideApplication,
    WorkspaceNotification::didUnhideApplication,
    WorkspaceNotification::didTerminateApplication,
    WorkspaceNotification::activeSpaceDidChange,
    WorkspaceNotification::screensDidSleep,
    WorkspaceNotification::willSleep,
    WorkspaceNotification::screensDidWake,
    WorkspaceNotification::didWake,
};

class SimulatedPlatformTest : public ::testing::Test {
protected:
    SimulatedPlatform& load(const std::string& text) {
        auto result = loadScene(text, "test.json", runtime_, {4242, [] { return 4241; }});
        EXPECT_EQ(result.error, "");
        platform_ = std::move(result.platform);
        if (!platform_) throw std::runtime_error(result.error);
        return *platform_;
    }

    void observeAll() {
        for (const auto name : kAllNotifications)
            platform_->workspace().addObserver(name, [this](const WorkspaceEvent& event) { events_.push_back(event); });
    }

    void apply(const std::string& action) { EXPECT_EQ(platform_->apply(Json::parse(action)), "") << action; }

    std::vector<std::string> windowIds() {
        std::vector<std::string> ids;
        const auto list = platform_->windowServer().copyWindowList();
        if (!list) return ids;
        for (const auto& entry : *list) {
            const auto pid = json_read::int32(entry, "kCGWindowOwnerPID");
            const auto number = json_read::integer(entry, "kCGWindowNumber");
            ids.push_back(pid && number ? std::to_string(*pid) + ":" + std::to_string(*number) : "raw");
        }
        return ids;
    }

    Rect bounds(std::int32_t pid, std::int64_t number) {
        const auto model = platform_->model();
        const WindowModel* window = model.window({pid, number});
        return window != nullptr ? window->bounds : Rect::null();
    }

    ManualRuntime runtime_;
    std::unique_ptr<SimulatedPlatform> platform_;
    std::vector<WorkspaceEvent> events_;
};

const char* const kThreeWindows = R"({
    "format": 1,
    "applications": [{"pid": 5, "bundleId": "com.example.five"}, {"pid": 6, "bundleId": "com.example.six"}],
    "windows": [
        {"pid": 5, "number": 1, "layer": 3, "alpha": 0.5, "bounds": [10, 20, 30, 40]},
        {"pid": 6, "number": 2, "bounds": [1.5, 2, 3, 4]},
        {"pid": 7, "number": 3, "raw": {"kCGWindowOwnerPID": "seven", "kCGWindowBounds": [1, 2], "extra": null}}
    ]
})";

TEST_F(SimulatedPlatformTest, WindowListCarriesTheServersKeysAndRawEntriesVerbatim) {
    auto& platform = load(kThreeWindows);
    const auto list = platform.windowServer().copyWindowList();
    ASSERT_TRUE(list);
    const Json expected = Json::parse(R"([
        {"kCGWindowOwnerPID": 5, "kCGWindowNumber": 1, "kCGWindowLayer": 3, "kCGWindowAlpha": 0.5,
         "kCGWindowBounds": {"X": 10.0, "Y": 20.0, "Width": 30.0, "Height": 40.0}},
        {"kCGWindowOwnerPID": 6, "kCGWindowNumber": 2, "kCGWindowLayer": 0,
         "kCGWindowBounds": {"X": 1.5, "Y": 2.0, "Width": 3.0, "Height": 4.0}},
        {"kCGWindowOwnerPID": "seven", "kCGWindowBounds": [1, 2], "extra": null}
    ])");
    EXPECT_EQ(*list, expected);
    // Bounds are floating point whatever the scene wrote, as the server hands them out.
    EXPECT_TRUE((*list)[0]["kCGWindowBounds"]["X"].is_number_float());
    EXPECT_FALSE((*list)[1].contains("kCGWindowAlpha"));
}

TEST_F(SimulatedPlatformTest, HiddenApplicationsWindowsLeaveAndRejoinTheList) {
    load(kThreeWindows);
    observeAll();
    apply(R"({"do": "hide", "pid": 6})");
    EXPECT_THAT(windowIds(), ElementsAre("5:1", "raw"));
    apply(R"({"do": "unhide", "pid": 6})");
    EXPECT_THAT(windowIds(), ElementsAre("5:1", "6:2", "raw"));

    EXPECT_TRUE(events_.empty()) << "notifications wait for the main queue";
    runtime_.runUntilIdle();
    ASSERT_EQ(events_.size(), 2u);
    EXPECT_EQ(events_[0].name, WorkspaceNotification::didHideApplication);
    EXPECT_EQ(events_[0].application, (RunningApplication{6, "com.example.six"}));
    EXPECT_EQ(events_[1].name, WorkspaceNotification::didUnhideApplication);
}

TEST_F(SimulatedPlatformTest, WindowListStates) {
    auto& platform = load(kThreeWindows);
    apply(R"({"do": "window-list", "state": "unavailable"})");
    EXPECT_EQ(platform.windowServer().copyWindowList(), nullptr);

    apply(R"({"do": "window-list", "state": "malformed"})");
    const auto malformed = platform.windowServer().copyWindowList();
    ASSERT_TRUE(malformed);
    const bool allObjects = malformed->is_array() && std::all_of(malformed->begin(), malformed->end(),
                                                                 [](const Json& entry) { return entry.is_object(); });
    EXPECT_FALSE(allObjects);

    apply(R"({"do": "window-list", "state": "available"})");
    EXPECT_EQ(platform.windowServer().copyWindowList()->size(), 3u);
}

TEST_F(SimulatedPlatformTest, WorkspaceAnswersFromTheScene) {
    auto& platform = load(R"({
        "format": 1,
        "system": {"version": "15.2.1", "home": "/Users/tester"},
        "displays": [{"id": 3, "bounds": [0, 0, 10, 10]}, {"id": 9, "bounds": [10, 0, 10, 10], "active": false},
                     {"id": 4, "bounds": [20, 0, 10, 10]}],
        "applications": [
            {"pid": 30, "bundleId": "com.example.twin", "bundlePath": "/Applications/Twin.app"},
            {"pid": 10, "bundleId": "com.example.other"},
            {"pid": 20, "bundleId": "com.example.twin"}
        ],
        "frontmost": 20,
        "windows": [{"pid": 77, "number": 1, "bounds": [0, 0, 5, 5]}]
    })");
    Workspace& workspace = platform.workspace();
    EXPECT_EQ(workspace.frontmostApplication(), (RunningApplication{20, "com.example.twin"}));
    EXPECT_THAT(workspace.runningApplications("com.example.twin"),
                ElementsAre(RunningApplication{30, "com.example.twin"}, RunningApplication{20, "com.example.twin"}));
    EXPECT_TRUE(workspace.runningApplications("com.example.none").empty());
    EXPECT_EQ(workspace.bundlePath(30), "/Applications/Twin.app");
    EXPECT_EQ(workspace.bundlePath(10), std::nullopt);
    EXPECT_EQ(workspace.bundlePath(99), std::nullopt);
    // A window's owner runs without being listed, with no bundle.
    EXPECT_EQ(workspace.runningApplication(77), (RunningApplication{77, std::nullopt}));
    EXPECT_EQ(workspace.runningApplication(99), std::nullopt);

    std::vector<std::optional<DisplayID>> screens;
    for (const auto& screen : workspace.screens()) screens.push_back(screen.number);
    EXPECT_THAT(screens, ElementsAre(3u, 4u));

    EXPECT_EQ(workspace.homeDirectory(), "/Users/tester");
    const auto version = workspace.systemVersion();
    EXPECT_EQ(std::tie(version.major, version.minor, version.patch), std::make_tuple(15, 2, 1));
    EXPECT_EQ(workspace.processIdentifier(), 4242);
    EXPECT_EQ(workspace.parentProcessIdentifier(), 4241);

    EXPECT_EQ(platform.activationPolicy(), std::nullopt);
    workspace.setActivationPolicy(ActivationPolicy::accessory);
    EXPECT_EQ(platform.activationPolicy(), ActivationPolicy::accessory);

    apply(R"({"do": "terminate", "pid": 20})");
    EXPECT_EQ(workspace.frontmostApplication(), std::nullopt);
}

TEST_F(SimulatedPlatformTest, FrontmostThatIsNotRunningIsNone) {
    EXPECT_EQ(load(R"({"format": 1, "frontmost": 55})").workspace().frontmostApplication(), std::nullopt);
    EXPECT_EQ(load(R"({"format": 1, "frontmost": null})").workspace().frontmostApplication(), std::nullopt);
}

TEST_F(SimulatedPlatformTest, WindowServerDisplaysSessionAndInput) {
    auto& platform = load(R"({
        "format": 1,
        "system": {"dockLevel": 19, "screenCapture": false, "accessibility": false},
        "displays": [{"id": 1, "bounds": [0, 0, 1440, 900]},
                     {"id": 2, "bounds": [1440, 0, 800, 600], "uuid": "SECOND", "asleep": true},
                     {"id": 3, "bounds": [0, 900, 800, 600], "uuid": null, "active": false}],
        "session": null,
        "input": {"leftButtonDown": true, "modifierFlags": 1048576, "counters": {"1": 7, "22": 3}}
    })");
    WindowServer& server = platform.windowServer();
    EXPECT_EQ(server.dockWindowLevel(), 19);
    EXPECT_EQ(server.activeDisplayCount(), 2u);
    EXPECT_EQ(server.activeDisplayList(8), (std::vector<DisplayID>{1, 2}));
    EXPECT_EQ(server.activeDisplayList(1), (std::vector<DisplayID>{1}));
    EXPECT_EQ(server.displayBounds(2), (Rect{1440, 0, 800, 600}));
    EXPECT_TRUE(server.displayBounds(42).isNull());
    EXPECT_TRUE(server.displayIsActive(1));
    EXPECT_FALSE(server.displayIsActive(3));
    EXPECT_FALSE(server.displayIsActive(42));
    EXPECT_TRUE(server.displayIsAsleep(2));
    EXPECT_FALSE(server.displayIsAsleep(1));
    EXPECT_EQ(server.displayUUID(1), defaultDisplayUUID(1));
    EXPECT_NE(defaultDisplayUUID(1), defaultDisplayUUID(2));
    EXPECT_EQ(server.displayUUID(2), "SECOND");
    EXPECT_EQ(server.displayUUID(3), std::nullopt);
    EXPECT_EQ(server.displayUUID(42), std::nullopt);
    EXPECT_EQ(server.sessionDictionary(), std::nullopt);
    EXPECT_TRUE(server.leftButtonDown());
    EXPECT_EQ(server.modifierFlags(), 1048576u);
    EXPECT_EQ(server.eventCounter(InputEventType::leftMouseDown), 7u);
    EXPECT_EQ(server.eventCounter(InputEventType::scrollWheel), 3u);
    EXPECT_EQ(server.eventCounter(InputEventType::keyDown), 0u);
    EXPECT_FALSE(server.preflightScreenCaptureAccess());
    EXPECT_FALSE(platform.accessibility().isProcessTrusted());

    // Counters merge per event type; the other fields are replaced when given.
    apply(R"({"do": "input", "counters": {"10": 2, "1": 8}})");
    EXPECT_EQ(server.eventCounter(InputEventType::leftMouseDown), 8u);
    EXPECT_EQ(server.eventCounter(InputEventType::scrollWheel), 3u);
    EXPECT_EQ(server.eventCounter(InputEventType::keyDown), 2u);
    EXPECT_TRUE(server.leftButtonDown());

    apply(R"({"do": "trust", "accessibility": true})");
    EXPECT_TRUE(platform.accessibility().isProcessTrusted());
    EXPECT_FALSE(server.preflightScreenCaptureAccess());

    apply(R"({"do": "session", "value": {"CGSSessionScreenIsLocked": true}})");
    EXPECT_EQ(server.sessionDictionary(), (Json{{"CGSSessionScreenIsLocked", true}}));

    apply(R"({"do": "display", "id": 3, "active": true, "bounds": [0, 900, 1024, 768]})");
    EXPECT_EQ(server.activeDisplayList(8), (std::vector<DisplayID>{1, 2, 3}));
    EXPECT_EQ(server.displayBounds(3), (Rect{0, 900, 1024, 768}));
    apply(R"({"do": "display", "id": 2, "uuid": null})");
    EXPECT_EQ(server.displayUUID(2), std::nullopt);
}

TEST_F(SimulatedPlatformTest, TimelinePlaysInTimeOrderWithEqualTimesInFileOrder) {
    load(R"({
        "format": 1,
        "windows": [{"pid": 5, "number": 1, "bounds": [0, 0, 100, 100]}],
        "timeline": [
            {"at": 1.0, "do": "move-window", "window": "5:1", "to": [10, 10]},
            {"at": 0.5, "do": "resize-window", "window": "5:1", "size": [50, 60]},
            {"at": 1.0, "do": "move-window", "window": "5:1", "to": [20, 20]},
            {"at": 1.0, "do": "move-window", "window": "5:1", "to": [30, 30]}
        ]
    })");
    runtime_.advance(0.49);
    EXPECT_EQ(bounds(5, 1), (Rect{0, 0, 100, 100}));
    runtime_.advance(0.01);
    EXPECT_EQ(bounds(5, 1), (Rect{0, 0, 50, 60}));
    runtime_.advance(0.49);
    EXPECT_EQ(bounds(5, 1), (Rect{0, 0, 50, 60}));
    runtime_.advance(0.01);
    EXPECT_EQ(bounds(5, 1), (Rect{30, 30, 50, 60}));
    EXPECT_EQ(runtime_.pendingTaskCount(), 0u) << "a timeline without repeat ends";
}

TEST_F(SimulatedPlatformTest, TimelineRepeatsForever) {
    load(R"({
        "format": 1,
        "windows": [{"pid": 5, "number": 1, "bounds": [0, 0, 100, 100]}],
        "timeline": [
            {"at": 0, "do": "move-window", "window": "5:1", "to": [0, 0]},
            {"at": 1, "do": "move-window", "window": "5:1", "to": [10, 0]}
        ],
        "repeat": 2
    })");
    runtime_.advance(1);
    EXPECT_EQ(bounds(5, 1).x, 10);
    runtime_.advance(1);
    EXPECT_EQ(bounds(5, 1).x, 0);
    runtime_.advance(101);
    EXPECT_EQ(bounds(5, 1).x, 10);
    runtime_.advance(0.5);
    EXPECT_EQ(bounds(5, 1).x, 10);
    runtime_.advance(0.5);
    EXPECT_EQ(bounds(5, 1).x, 0);
}

TEST_F(SimulatedPlatformTest, ApplicationNotificationsArriveOnTheMainQueueWithTheApplication) {
    auto& platform = load(R"({
        "format": 1,
        "applications": [{"pid": 5, "bundleId": "com.example.five"}],
        "frontmost": 5,
        "windows": [{"pid": 6, "number": 1, "bounds": [0, 0, 9, 9]}, {"pid": 5, "number": 2, "bounds": [0, 0, 9, 9]}],
        "timeline": [
            {"at": 1, "do": "activate", "pid": 6},
            {"at": 2, "do": "terminate", "pid": 5},
            {"at": 3, "do": "space", "windows": [{"pid": 8, "number": 4, "bounds": [1, 1, 5, 5]}]}
        ]
    })");
    observeAll();
    runtime_.advance(1);
    EXPECT_EQ(platform.workspace().frontmostApplication(), (RunningApplication{6, std::nullopt}));
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].name, WorkspaceNotification::didActivateApplication);
    EXPECT_EQ(events_[0].application, (RunningApplication{6, std::nullopt}));

    runtime_.advance(1);
    EXPECT_THAT(windowIds(), ElementsAre("6:1"));
    EXPECT_EQ(platform.workspace().runningApplication(5), std::nullopt);
    ASSERT_EQ(events_.size(), 2u);
    EXPECT_EQ(events_[1].name, WorkspaceNotification::didTerminateApplication);
    EXPECT_EQ(events_[1].application, (RunningApplication{5, "com.example.five"}));

    runtime_.advance(1);
    EXPECT_THAT(windowIds(), ElementsAre("8:4"));
    EXPECT_EQ(platform.workspace().runningApplication(8), (RunningApplication{8, std::nullopt}));
    ASSERT_EQ(events_.size(), 3u);
    EXPECT_EQ(events_[2].name, WorkspaceNotification::activeSpaceDidChange);
    EXPECT_EQ(events_[2].application, std::nullopt);
}

TEST_F(SimulatedPlatformTest, SleepAndWakeMarkEveryDisplayAndAnnounceIt) {
    auto& platform = load(R"({"format": 1, "displays": [{"id": 1, "bounds": [0, 0, 9, 9]},
                                                        {"id": 2, "bounds": [9, 0, 9, 9]}]})");
    observeAll();
    const struct {
        const char* action;
        WorkspaceNotification name;
        bool asleep;
    } cases[] = {
        {"screens-sleep", WorkspaceNotification::screensDidSleep, true},
        {"screens-wake", WorkspaceNotification::screensDidWake, false},
        {"system-sleep", WorkspaceNotification::willSleep, true},
        {"system-wake", WorkspaceNotification::didWake, false},
    };
    for (const auto& c : cases) {
        events_.clear();
        apply(std::string(R"({"do": ")") + c.action + "\"}");
        runtime_.runUntilIdle();
        EXPECT_EQ(platform.windowServer().displayIsAsleep(1), c.asleep) << c.action;
        EXPECT_EQ(platform.windowServer().displayIsAsleep(2), c.asleep) << c.action;
        ASSERT_EQ(events_.size(), 1u) << c.action;
        EXPECT_EQ(events_[0].name, c.name) << c.action;
        EXPECT_EQ(events_[0].application, std::nullopt) << c.action;
    }
}

TEST_F(SimulatedPlatformTest, RemovedObserversHearNothingMore) {
    auto& platform = load(R"({"format": 1, "applications": [{"pid": 5}]})");
    int heard = 0;
    const auto token = platform.workspace().addObserver(WorkspaceNotification::didHideApplication,
                                                        [&heard](const WorkspaceEvent&) { ++heard; });
    apply(R"({"do": "hide", "pid": 5})");
    runtime_.runUntilIdle();
    apply(R"({"do": "hide", "pid": 5})");
    platform.workspace().removeObserver(token);
    runtime_.runUntilIdle();
    EXPECT_EQ(heard, 1);
}

TEST_F(SimulatedPlatformTest, WindowActionsReshapeTheList) {
    load(kThreeWindows);
    apply(R"({"do": "add-window", "window": {"pid": 9, "number": 4, "bounds": [0, 0, 5, 5]}, "index": 1})");
    EXPECT_THAT(windowIds(), ElementsAre("5:1", "9:4", "6:2", "raw"));
    apply(R"({"do": "add-window", "window": {"pid": 9, "number": 5, "bounds": [0, 0, 5, 5]}, "index": 99})");
    EXPECT_THAT(windowIds(), ElementsAre("5:1", "9:4", "6:2", "raw", "9:5"));
    apply(R"({"do": "raise-window", "window": "6:2"})");
    EXPECT_THAT(windowIds(), ElementsAre("6:2", "5:1", "9:4", "raw", "9:5"));
    apply(R"({"do": "remove-window", "window": "9:4"})");
    EXPECT_THAT(windowIds(), ElementsAre("6:2", "5:1", "raw", "9:5"));
    // Adding a window that exists replaces it at the new place.
    apply(R"({"do": "add-window", "window": {"pid": 9, "number": 5, "bounds": [0, 0, 7, 7]}})");
    EXPECT_THAT(windowIds(), ElementsAre("9:5", "6:2", "5:1", "raw"));
    EXPECT_EQ(bounds(9, 5), (Rect{0, 0, 7, 7}));

    apply(R"({"do": "set-window", "window": "5:1", "alpha": null, "layer": 8, "bounds": [1, 2, 3, 4]})");
    const Json entry = (*platform_->windowServer().copyWindowList())[2];
    EXPECT_EQ(entry, Json::parse(R"({"kCGWindowOwnerPID": 5, "kCGWindowNumber": 1, "kCGWindowLayer": 8,
                                     "kCGWindowBounds": {"X": 1.0, "Y": 2.0, "Width": 3.0, "Height": 4.0}})"));
    // Renaming onto another window's id would make two windows one.
    apply(R"({"do": "set-window", "window": "5:1", "pid": 6, "number": 2})");
    EXPECT_THAT(windowIds(), ElementsAre("9:5", "6:2", "5:1", "raw"));
    apply(R"({"do": "set-window", "window": "5:1", "number": 3})");
    EXPECT_THAT(windowIds(), ElementsAre("9:5", "6:2", "5:3", "raw"));
}

TEST_F(SimulatedPlatformTest, ActionsNamingWhatIsGoneChangeNothing) {
    auto& platform = load(kThreeWindows);
    observeAll();
    const auto before = platform.windowServer().copyWindowList();
    for (const char* action : {
             R"({"do": "move-window", "window": "99:1", "to": [1, 1]})",
             R"({"do": "set-window", "window": "99:1", "layer": 3})",
             R"({"do": "raise-window", "window": "99:1"})",
             R"({"do": "remove-window", "window": "99:1"})",
             R"({"do": "activate", "pid": 99})",
             R"({"do": "terminate", "pid": 99})",
             R"({"do": "focus-window", "pid": 99, "window": "99:1"})",
             R"({"do": "display", "id": 99, "active": false})",
         })
        apply(action);
    runtime_.runUntilIdle();
    EXPECT_EQ(*platform.windowServer().copyWindowList(), *before);
    EXPECT_TRUE(events_.empty());
}

TEST_F(SimulatedPlatformTest, ApplyRefusesInvalidActionsWithThePlace) {
    auto& platform = load(kThreeWindows);
    EXPECT_THAT(platform.apply(Json::parse(R"({"do": "jump"})")), ::testing::StartsWith(R"(do: unknown action "jump" )"));
    EXPECT_EQ(platform.apply(Json::parse(R"({"do": "move-window", "to": [1, 2]})")), "window: required key is missing");
    EXPECT_EQ(platform.apply(Json::parse(R"({"at": "soon", "do": "screens-sleep"})")), "at: must be a number");
    EXPECT_EQ(platform.apply(Json::parse("[]")), "$: must be an object");
}

TEST_F(SimulatedPlatformTest, FocusEventsNameTheFocusedWindowAndElement) {
    auto& platform = load(R"({
        "format": 1,
        "windows": [
            {"pid": 5, "number": 1, "bounds": [0, 0, 9, 9]},
            {"pid": 5, "number": 2, "bounds": [0, 0, 9, 9], "ax": {"children": [{"id": "a", "focused": true}]}},
            {"pid": 5, "number": 3, "bounds": [0, 0, 9, 9], "ax": {"children": [{"id": "b"}]}}
        ]
    })");
    const auto windowAX = [&](std::int64_t number) { return platform.model().window({5, number})->ax; };
    EXPECT_EQ(platform.model().focusedWindowElement(5), windowAX(2)) << "front-most window with an element";
    EXPECT_EQ(platform.model().focusedElement(5), windowAX(2)->children[0]);

    apply(R"({"do": "focus-window", "window": "5:3"})");
    apply(R"({"do": "focus-element", "pid": 5, "element": "b"})");
    EXPECT_EQ(platform.model().focusedWindowElement(5), windowAX(3));
    EXPECT_EQ(platform.model().focusedElement(5), windowAX(3)->children[0]);

    apply(R"({"do": "remove-window", "window": "5:3"})");
    EXPECT_EQ(platform.model().focusedWindowElement(5), windowAX(2))
        << "a focused window that is gone no longer counts";
    EXPECT_EQ(platform.model().focusedElement(5), windowAX(2)->children[0]);
}

TEST_F(SimulatedPlatformTest, ApplicationElementsAreOnePerProcess) {
    auto& platform = load(kThreeWindows);
    Accessibility& ax = platform.accessibility();
    EXPECT_EQ(ax.applicationElement(5), ax.applicationElement(5));
    EXPECT_FALSE(ax.applicationElement(5) == ax.applicationElement(6));
    EXPECT_EQ(ax.processIdentifier(ax.applicationElement(6)).value, 6);
    EXPECT_FALSE(ax.processIdentifier(Element()).ok());
}

TEST_F(SimulatedPlatformTest, PendingWorkOutlivesThePlatformHarmlessly) {
    load(R"({
        "format": 1, "applications": [{"pid": 5}],
        "timeline": [{"at": 1, "do": "hide", "pid": 5}], "repeat": 2
    })");
    observeAll();
    apply(R"({"do": "hide", "pid": 5})");
    platform_.reset();
    runtime_.advance(10);
    EXPECT_TRUE(events_.empty());
}

TEST_F(SimulatedPlatformTest, ReadersOnOtherThreadsSeeWholeStatesWhileTheTimelinePlays) {
    auto& platform = load(R"({
        "format": 1,
        "windows": [{"pid": 5, "number": 1, "bounds": [0, 0, 9, 9]}, {"pid": 6, "number": 2, "bounds": [0, 0, 9, 9]}],
        "timeline": [
            {"at": 0.01, "do": "move-window", "window": "5:1", "to": [5, 5]},
            {"at": 0.02, "do": "add-window", "window": {"pid": 7, "number": 3, "bounds": [0, 0, 9, 9]}},
            {"at": 0.03, "do": "raise-window", "window": "6:2"},
            {"at": 0.04, "do": "remove-window", "window": "7:3"},
            {"at": 0.05, "do": "move-window", "window": "5:1", "to": [0, 0]}
        ],
        "repeat": 0.05
    })");
    std::atomic<bool> done{false};
    std::atomic<int> badLists{0};
    std::thread reader([&] {
        for (int i = 0; i < 20000 && !done.load(); ++i) {
            const auto list = platform.windowServer().copyWindowList();
            if (!list || !list->is_array() || list->size() < 2 || list->size() > 3) ++badLists;
            platform.workspace().runningApplication(7);
            platform.accessibility().isProcessTrusted();
        }
    });
    for (int i = 0; i < 2000; ++i) runtime_.advance(0.01);
    done = true;
    reader.join();
    EXPECT_EQ(badLists.load(), 0);
}

}  // namespace
}  // namespace scene::simulated
