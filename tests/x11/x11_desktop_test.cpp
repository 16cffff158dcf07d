#include <gtest/gtest.h>
#include <signal.h>
#include <xcb/randr.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "platform/asio_runtime.h"
#include "platform/x11/x11_platform.h"
#include "x_desktop_for_test.h"
#include "x_session_for_test.h"
#include "x_window_for_test.h"

namespace scene::x11 {
namespace {

using testing::Child;
using testing::eventually;
using testing::installed;

constexpr InputEventType kCountedTypes[] = {
    InputEventType::leftMouseDown, InputEventType::rightMouseDown, InputEventType::otherMouseDown,
    InputEventType::scrollWheel,   InputEventType::keyDown,        InputEventType::mouseMoved,
};

class X11DesktopTest : public testing::XSessionTest {
protected:
    void SetUp() override {
        XSessionTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        runtime_ = std::make_unique<AsioRuntime>();
        platform_ = X11Platform::open(display_, *runtime_);
        ASSERT_TRUE(platform_);
    }
    void TearDown() override {
        platform_.reset();
        XSessionTest::TearDown();
    }

    std::unique_ptr<Child> startXTerm(const std::string& geometry) {
        auto client = std::make_unique<Child>(std::vector<std::string>{"xterm", "-geometry", geometry},
                                              std::vector<std::string>{displayVariable()});
        // The manager may publish its stacking order before its client list,
        // and the workspace watcher follows the client list.
        EXPECT_TRUE(eventually([&] { return isListed(client->pid()) && testing::clientOf(ewmh_, client->pid()); }))
            << "xterm never showed";
        return client;
    }

    // The client window of `pid` once the manager lists it with its owner.
    std::optional<xcb_window_t> clientWindow(pid_t pid) {
        std::optional<xcb_window_t> window;
        eventually([&] { return (window = testing::clientOf(ewmh_, pid)).has_value(); });
        return window;
    }

    bool isListed(pid_t pid) {
        const auto list = platform_->windowServer().copyWindowList();
        for (const auto& entry : *list)
            if (entry.value("kCGWindowOwnerPID", 0) == pid) return true;
        return false;
    }

    // Keeps every `name` notification, and whether each came on the thread
    // that runs the main queue (this one, inside runUntil).
    void record(WorkspaceNotification name) {
        platform_->workspace().addObserver(name, [this](const WorkspaceEvent& event) {
            events_.push_back(event);
            onMainQueue_ = onMainQueue_ && std::this_thread::get_id() == testThread_;
            if (check_) check_();
        });
    }

    bool received(WorkspaceNotification name, pid_t pid) const {
        for (const auto& event : events_)
            if (event.name == name && event.application && event.application->processIdentifier == pid) return true;
        return false;
    }

    // Runs the main queue until `done` holds after a notification, for ten
    // seconds at most. The runtime runs once, so a test waits here once.
    bool runUntil(std::function<bool()> done) {
        check_ = [this, done] {
            if (done()) runtime_->requestExit(0);
        };
        runtime_->mainQueue().post(check_);
        runtime_->mainQueue().postAfter(10, [this] { runtime_->requestExit(1); });
        return runtime_->run() == 0;
    }

    std::unique_ptr<AsioRuntime> runtime_;
    std::unique_ptr<X11Platform> platform_;
    std::vector<WorkspaceEvent> events_;
    bool onMainQueue_ = true;
    std::function<void()> check_;
    const std::thread::id testThread_ = std::this_thread::get_id();
};

TEST_F(X11DesktopTest, ListsAClientWithItsOwnerAndFramedBoundsAndMakesItFront) {
    if (!installed("xterm")) GTEST_SKIP() << "xterm is needed";
    const auto client = startXTerm("80x24+100+100");
    const auto list = platform_->windowServer().copyWindowList();
    for (const auto& entry : *list) {
        const auto& bounds = entry["kCGWindowBounds"];
        const double x = bounds["X"], y = bounds["Y"], width = bounds["Width"], height = bounds["Height"];
        // The manager's own helper (a mapped pixel far off screen) is no window.
        EXPECT_FALSE(width <= 1 && height <= 1) << entry;
        EXPECT_TRUE(x < 1280 && y < 800 && x + width > 0 && y + height > 0) << entry;
        if (entry.value("kCGWindowOwnerPID", 0) != client->pid()) continue;
        EXPECT_EQ(entry["kCGWindowLayer"], kNormalLevel);
        EXPECT_TRUE(bounds["X"].is_number_float());
    }
    auto& workspace = platform_->workspace();
    EXPECT_TRUE(eventually([&] {
        const auto front = workspace.frontmostApplication();
        return front && front->processIdentifier == client->pid() && front->bundleIdentifier == "XTerm";
    }));
    EXPECT_TRUE(workspace.bundlePath(client->pid()));
}

TEST_F(X11DesktopTest, DisplaysComeFromTheServerMonitorsAndAreKnownByTheirEDID) {
    auto& server = platform_->windowServer();
    const auto displays = server.activeDisplayList(8);
    ASSERT_TRUE(displays);
    ASSERT_EQ(displays->size(), 1u);
    const DisplayID display = displays->front();
    EXPECT_EQ(server.displayBounds(display), (Rect{0, 0, 1280, 800}));
    EXPECT_TRUE(server.displayIsActive(display));
    EXPECT_FALSE(server.displayIsAsleep(display));
    EXPECT_EQ(server.sessionDictionary(),
              (nlohmann::json{{"CGSSessionScreenIsLocked", false}, {"kCGSSessionOnConsoleKey", true}}));

    // The virtual output has no EDID: its connector names it.
    const auto connector = server.displayUUID(display);
    ASSERT_TRUE(connector);
    EXPECT_FALSE(connector->empty());

    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, 4, "EDID"), nullptr);
    ASSERT_TRUE(atom);
    const xcb_atom_t edidAtom = atom->atom;
    free(atom);
    std::array<std::uint8_t, 128> edid{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x10, 0xAC, 0x42, 0x41};
    const auto plug = [&] {
        xcb_randr_change_output_property(connection_, display, edidAtom, XCB_ATOM_INTEGER, 8, XCB_PROP_MODE_REPLACE,
                                         edid.size(), edid.data());
        free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
        return server.displayUUID(display);
    };
    const auto panel = plug();
    ASSERT_TRUE(panel);
    EXPECT_TRUE(std::regex_match(*panel, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
        << *panel;
    EXPECT_EQ(server.displayUUID(display), panel);
    edid[15] ^= 1;  // another panel of the same model: its serial number
    EXPECT_NE(plug(), panel);
}

TEST_F(X11DesktopTest, ADesktopSwitchIsASpaceChangeOnTheMainQueueAndTakesTheOldDesktopOffTheList) {
    if (!installed("xterm")) GTEST_SKIP() << "xterm is needed";
    const auto client = startXTerm("80x24+100+100");
    // A handler removed by an earlier handler of the same notification does
    // not run, though the notification was already on its way.
    auto& workspace = platform_->workspace();
    ObserverToken removed = 0;
    int removedRuns = 0;
    workspace.addObserver(WorkspaceNotification::activeSpaceDidChange,
                          [&](const WorkspaceEvent&) { workspace.removeObserver(removed); });
    removed = workspace.addObserver(WorkspaceNotification::activeSpaceDidChange,
                                    [&](const WorkspaceEvent&) { ++removedRuns; });
    record(WorkspaceNotification::activeSpaceDidChange);

    testing::switchDesktop(ewmh_, 1);
    ASSERT_TRUE(runUntil([&] { return !events_.empty(); }));
    EXPECT_TRUE(onMainQueue_);
    EXPECT_FALSE(events_.front().application);
    EXPECT_EQ(removedRuns, 0);
    EXPECT_TRUE(eventually([&] { return !isListed(client->pid()); }));
}

TEST_F(X11DesktopTest, ActivatingAnotherClientActivatesItsApplication) {
    if (!installed("xterm")) GTEST_SKIP() << "xterm is needed";
    const auto first = startXTerm("80x24+100+100");
    const auto second = startXTerm("80x24+600+300");
    ASSERT_TRUE(eventually([&] {
        const auto front = platform_->workspace().frontmostApplication();
        return front && front->processIdentifier == second->pid();
    }));
    const auto window = clientWindow(first->pid());
    ASSERT_TRUE(window);
    record(WorkspaceNotification::didActivateApplication);

    testing::activate(ewmh_, *window);
    ASSERT_TRUE(runUntil([&] { return received(WorkspaceNotification::didActivateApplication, first->pid()); }));
    EXPECT_TRUE(onMainQueue_);
    EXPECT_EQ(events_.back().application, (RunningApplication{first->pid(), "XTerm"}));
}

TEST_F(X11DesktopTest, MinimisingEveryWindowHidesTheApplicationAndActivatingItUnhidesIt) {
    if (!installed("xterm") || !installed("xdotool")) GTEST_SKIP() << "xterm and xdotool are needed";
    const auto client = startXTerm("80x24+100+100");
    const auto window = clientWindow(client->pid());
    ASSERT_TRUE(window);
    record(WorkspaceNotification::didHideApplication);
    record(WorkspaceNotification::didUnhideApplication);

    ASSERT_EQ(testing::runToEnd({"xdotool", "windowminimize", std::to_string(*window)}, {displayVariable()}), 0);
    bool shown = false;
    ASSERT_TRUE(runUntil([&] {
        if (!shown && received(WorkspaceNotification::didHideApplication, client->pid())) {
            testing::activate(ewmh_, *window);
            shown = true;
        }
        return received(WorkspaceNotification::didUnhideApplication, client->pid());
    }));
    ASSERT_EQ(events_.size(), 2u);
    EXPECT_EQ(events_[0].name, WorkspaceNotification::didHideApplication);
    EXPECT_EQ(events_[0].application, (RunningApplication{client->pid(), "XTerm"}));
    EXPECT_TRUE(onMainQueue_);
}

TEST_F(X11DesktopTest, AKilledClientTerminatesItsApplication) {
    if (!installed("xterm")) GTEST_SKIP() << "xterm is needed";
    const auto client = startXTerm("80x24+100+100");
    record(WorkspaceNotification::didTerminateApplication);

    ASSERT_EQ(kill(client->pid(), SIGKILL), 0);
    ASSERT_TRUE(runUntil([&] { return received(WorkspaceNotification::didTerminateApplication, client->pid()); }));
    EXPECT_EQ(events_.back().application, (RunningApplication{client->pid(), "XTerm"}));
    EXPECT_TRUE(onMainQueue_);
}

TEST_F(X11DesktopTest, RawInputMovesEachCounterOncePerEvent) {
    if (!installed("xdotool")) GTEST_SKIP() << "xdotool is needed";
    auto& server = platform_->windowServer();
    const auto counts = [&] {
        std::array<std::uint32_t, std::size(kCountedTypes)> result{};
        for (std::size_t i = 0; i < result.size(); ++i) result[i] = server.eventCounter(kCountedTypes[i]);
        return result;
    };
    const auto before = counts();  // counting starts here

    // The key comes last: events arrive in order, so once it is counted
    // every earlier one is too.
    ASSERT_EQ(testing::runToEnd({"xdotool", "mousemove_relative", "--", "30", "20", "click", "1", "click", "3", "click",
                                 "2", "click", "4", "click", "5", "key", "a"},
                                {displayVariable()}),
              0);
    std::array<std::uint32_t, std::size(kCountedTypes)> after{};
    ASSERT_TRUE(eventually([&] {
        free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
        after = counts();
        return after[4] != before[4];
    }));
    const std::array<std::uint32_t, std::size(kCountedTypes)> moved = {1, 1, 1, 2, 1, 1};
    for (std::size_t i = 0; i < after.size(); ++i)
        EXPECT_EQ(after[i] - before[i], moved[i]) << "counter of event type " << static_cast<int>(kCountedTypes[i]);
}

// The pointer state is kept between presses, so each one must be seen.
TEST_F(X11DesktopTest, ButtonsAndModifiersFollowEveryPressAndRelease) {
    if (!installed("xdotool")) GTEST_SKIP() << "xdotool is needed";
    auto& server = platform_->windowServer();
    constexpr std::uint64_t kShiftFlag = 1 << 17;
    EXPECT_FALSE(server.leftButtonDown());
    EXPECT_EQ(server.modifierFlags(), 0u);
    const auto xdotool = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "xdotool");
        return testing::runToEnd(std::move(arguments), {displayVariable()});
    };
    ASSERT_EQ(xdotool({"mousedown", "1", "keydown", "shift"}), 0);
    EXPECT_TRUE(eventually([&] { return server.leftButtonDown() && server.modifierFlags() == kShiftFlag; }));
    ASSERT_EQ(xdotool({"keyup", "shift"}), 0);
    EXPECT_TRUE(eventually([&] { return server.leftButtonDown() && server.modifierFlags() == 0; }));
    ASSERT_EQ(xdotool({"mouseup", "1"}), 0);
    EXPECT_TRUE(eventually([&] { return !server.leftButtonDown(); }));
}

// Events are taken in in the order the server sent them, whoever reads them,
// and none waits behind a caller that asks without a pause: a pop-up shown
// and hidden over and over while the list is asked for ends as it last was.
TEST_F(X11DesktopTest, APopUpFlickeringWhileTheListIsAskedForEndsListedAsItLastWas) {
    const testing::SolidWindow popUp(connection_, ewmh_, {200, 200, 120, 80}, 0x3366CC, false);
    const auto listed = [&] {
        const auto list = platform_->windowServer().copyWindowList();
        return std::any_of(list->begin(), list->end(),
                           [&](const nlohmann::json& entry) { return entry["kCGWindowNumber"] == popUp.id(); });
    };
    for (int round = 0; round < 20; ++round) {
        const bool shown = round % 2 == 0;
        std::atomic<bool> flickered{false};
        std::thread flicker([&] {
            for (int i = 0; i < 50; ++i) {
                xcb_unmap_window(connection_, popUp.id());
                xcb_map_window(connection_, popUp.id());
                xcb_flush(connection_);
            }
            if (!shown) xcb_unmap_window(connection_, popUp.id());
            std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
            flickered = true;
        });
        // A question the server answers every time: the events come in
        // while a caller waits for its reply.
        while (!flickered) {
            platform_->windowServer().displayIsAsleep(0);
            listed();
        }
        flicker.join();
        EXPECT_TRUE(eventually([&] { return listed() == shown; })) << "round " << round;
    }
}

TEST_F(X11DesktopTest, ADockTypeWindowIsListedAtTheDockLevelAndItsOwnerIsTheDock) {
    const testing::DockWindow dock(display_, {140, 752, 1000, 48});
    ASSERT_NE(dock.window(), XCB_WINDOW_NONE);
    nlohmann::json listed;
    ASSERT_TRUE(eventually([&] {
        const auto list = platform_->windowServer().copyWindowList();
        for (const auto& entry : *list)
            if (entry["kCGWindowNumber"] == dock.window()) listed = entry;
        return !listed.is_null();
    }));
    EXPECT_EQ(listed["kCGWindowLayer"], platform_->windowServer().dockWindowLevel());
    EXPECT_EQ(listed["kCGWindowLayer"], 20);
    EXPECT_EQ(listed["kCGWindowOwnerPID"], getpid());
    EXPECT_EQ(listed["kCGWindowBounds"],
              (nlohmann::json{{"X", 140.0}, {"Y", 752.0}, {"Width", 1000.0}, {"Height", 48.0}}));

    auto& workspace = platform_->workspace();
    EXPECT_EQ(workspace.runningApplication(getpid()), (RunningApplication{getpid(), std::string(kDockBundleID)}));
    EXPECT_EQ(workspace.runningApplications(kDockBundleID),
              (std::vector<RunningApplication>{{getpid(), std::string(kDockBundleID)}}));

    // What a window says of itself is kept until it changes it.
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, 22, "_NET_WM_WINDOW_OPACITY"), nullptr);
    ASSERT_TRUE(atom);
    const xcb_atom_t opacity = atom->atom;
    free(atom);
    const std::uint32_t half = 0x7FFFFFFFu;
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, dock.window(), opacity, XCB_ATOM_CARDINAL, 32, 1, &half);
    xcb_flush(connection_);
    const auto alpha = [&]() -> std::optional<double> {
        const auto list = platform_->windowServer().copyWindowList();
        for (const auto& entry : *list)
            if (entry["kCGWindowNumber"] == dock.window() && entry.contains("kCGWindowAlpha"))
                return entry["kCGWindowAlpha"].get<double>();
        return std::nullopt;
    };
    EXPECT_TRUE(eventually([&] { return alpha() && std::abs(*alpha() - 0.5) < 0.01; }));
    xcb_delete_property(connection_, dock.window(), opacity);
    xcb_flush(connection_);
    EXPECT_TRUE(eventually([&] { return !alpha(); }));
}

}  // namespace
}  // namespace scene::x11
