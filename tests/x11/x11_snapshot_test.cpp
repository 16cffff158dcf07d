// The scene-sampler binary on a private X desktop, started as a companion
// starts it: its snapshot lines name the clients, follow the active one (or
// the desktop's owner when none is), hide the windows while the desktop
// switches, find the panel's shelf, show windows as they show on screen and
// in the server's stacking order, and tell a lost server from an empty one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "child_process.h"
#include "platform/rect.h"
#include "x_desktop_for_test.h"
#include "x_session_for_test.h"
#include "x_window_for_test.h"

namespace scene::x11 {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using scene::testing::ChildProcess;
using testing::Child;
using testing::eventually;
using testing::installed;
using testing::SolidWindow;

constexpr const char* kUnavailableLine = R"({"status":"unavailable","windows":[]})";

class X11SnapshotTest : public testing::XSessionTest {
protected:
    std::unique_ptr<ChildProcess> startSampler(std::vector<std::string> arguments = {}) {
        arguments.insert(arguments.begin(), {"--platform", "x11"});
        return std::make_unique<ChildProcess>(
            ChildProcess::Options{std::move(arguments), {{"DISPLAY", display_}}, false, false});
    }

    xcb_atom_t atom(const std::string& name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
            nullptr);
        const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        free(reply);
        return atom;
    }

    // Where a client's own rectangle is on the root.
    std::optional<Rect> clientRect(xcb_window_t window) {
        auto* origin = xcb_translate_coordinates_reply(
            connection_, xcb_translate_coordinates(connection_, window, ewmh_.screens[0]->root, 0, 0), nullptr);
        auto* geometry = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
        std::optional<Rect> rect;
        if (origin != nullptr && geometry != nullptr)
            rect = Rect{static_cast<double>(origin->dst_x), static_cast<double>(origin->dst_y),
                        static_cast<double>(geometry->width), static_cast<double>(geometry->height)};
        free(origin);
        free(geometry);
        return rect;
    }

    // The client window of an xterm once the manager has it.
    xcb_window_t managedClientOf(const Child& client) {
        std::optional<xcb_window_t> window;
        EXPECT_TRUE(testing::eventually([&] { return (window = testing::clientOf(ewmh_, client.pid())).has_value(); }))
            << "xterm never showed";
        return window.value_or(XCB_WINDOW_NONE);
    }

    static std::string recordID(pid_t pid, xcb_window_t window) {
        return std::to_string(pid) + ":" + std::to_string(window);
    }
};

// Reads snapshot lines until one satisfies `wanted`, for at most ten seconds.
std::optional<Json> snapshotWhere(ChildProcess& sampler, const std::function<bool(const Json&)>& wanted) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto line = sampler.readLine(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
        if (!line) break;
        Json snapshot = Json::parse(*line);
        if (wanted(snapshot)) return snapshot;
    }
    return std::nullopt;
}

const Json* recordOf(const Json& snapshot, pid_t pid) {
    for (const auto& record : snapshot["windows"])
        if (record["pid"] == pid) return &record;
    return nullptr;
}

// The place of the record with `id` in the front-to-back list, or -1.
int placeOf(const Json& snapshot, const std::string& id) {
    const Json& windows = snapshot["windows"];
    for (std::size_t i = 0; i < windows.size(); ++i)
        if (windows[i]["id"] == id) return static_cast<int>(i);
    return -1;
}

Rect boundsOf(const Json& record) {
    return Rect{record["x"].get<double>(), record["y"].get<double>(), record["width"].get<double>(),
                record["height"].get<double>()};
}

TEST_F(X11SnapshotTest, WindowsCarryTheirOwnersAndFramesAndTheFocusFollowsTheActiveClient) {
    if (!installed("xterm")) GTEST_SKIP() << "xterm is needed";
    const Child first({"xterm", "-geometry", "80x24+100+100"}, {displayVariable()});
    const xcb_window_t firstWindow = managedClientOf(first);
    const Child second({"xterm", "-geometry", "60x20+600+300"}, {displayVariable()});
    const xcb_window_t secondWindow = managedClientOf(second);
    ASSERT_TRUE(testing::eventually([&] { return testing::activeWindow(ewmh_) == secondWindow; }));

    auto sampler = startSampler();
    const auto snapshot = snapshotWhere(*sampler, [&](const Json& line) {
        return line["status"] == "ready" && recordOf(line, first.pid()) && recordOf(line, second.pid()) &&
               line["context"]["focusedWindowId"] == recordID(second.pid(), secondWindow);
    });
    ASSERT_TRUE(snapshot);
    EXPECT_EQ((*snapshot)["context"]["frontPID"], second.pid());
    for (const auto& [client, window] : {std::pair{&first, firstWindow}, std::pair{&second, secondWindow}}) {
        const Json& record = *recordOf(*snapshot, client->pid());
        EXPECT_EQ(record["id"], recordID(client->pid(), window));
        EXPECT_EQ(record["layer"], 0);
        // The manager's frame is part of the window as the user sees it.
        const auto frame = testing::frameOf(connection_, window);
        ASSERT_TRUE(frame);
        EXPECT_EQ(record["x"], frame->x);
        EXPECT_EQ(record["y"], frame->y);
        EXPECT_EQ(record["width"], frame->width);
        EXPECT_EQ(record["height"], frame->height);
    }

    testing::activate(ewmh_, firstWindow);
    EXPECT_TRUE(snapshotWhere(*sampler, [&](const Json& line) {
        return line["context"]["frontPID"] == first.pid() &&
               line["context"]["focusedWindowId"] == recordID(first.pid(), firstWindow);
    }));

    // The back-end's watchers let the process go when it is told to.
    sampler->write("quit\n");
    EXPECT_EQ(sampler->wait(), 0);
}

TEST_F(X11SnapshotTest, ADesktopSwitchIsASpaceTransitionThatHidesTheWindowsUntilItSettles) {
    if (!installed("xterm")) GTEST_SKIP() << "xterm is needed";
    const Child client({"xterm", "-geometry", "80x24+100+100"}, {displayVariable()});
    managedClientOf(client);

    auto sampler = startSampler();
    const auto before = snapshotWhere(*sampler, [&](const Json& line) {
        return recordOf(line, client.pid()) && line["context"]["spaceTransitioning"] == false;
    });
    ASSERT_TRUE(before);
    const Json& was = (*before)["context"];

    testing::switchDesktop(ewmh_, 1);
    const auto switching = snapshotWhere(
        *sampler, [&](const Json& line) { return line["context"]["spaceRevision"] != was["spaceRevision"]; });
    ASSERT_TRUE(switching);
    const Json& context = (*switching)["context"];
    EXPECT_EQ(context["spaceRevision"], was["spaceRevision"].get<int>() + 1);
    EXPECT_GT(context["revision"].get<int>(), was["revision"].get<int>());
    EXPECT_EQ(context["spaceTransitioning"], true);
    EXPECT_EQ(context["transitioning"], true);
    EXPECT_EQ((*switching)["windows"], Json::array());

    // Once it settles, the client left behind on the first desktop is gone.
    const auto settled =
        snapshotWhere(*sampler, [&](const Json& line) { return line["context"]["spaceTransitioning"] == false; });
    ASSERT_TRUE(settled);
    EXPECT_EQ((*settled)["context"]["spaceRevision"], context["spaceRevision"]);
    EXPECT_FALSE(recordOf(*settled, client.pid()));
}

TEST_F(X11SnapshotTest, APanelIsTheDockAndItsShelfIsADockRecord) {
    const testing::DockWindow panel(display_, {140, 752, 1000, 48});
    ASSERT_TRUE(testing::eventually([&] { return testing::isManaged(ewmh_, panel.window()); }));

    auto sampler = startSampler();
    const auto snapshot = snapshotWhere(*sampler, [](const Json& line) { return !line["docks"].empty(); });
    ASSERT_TRUE(snapshot);
    EXPECT_EQ((*snapshot)["dockStatus"], "ready");
    ASSERT_EQ((*snapshot)["docks"].size(), 1u);
    const Json& dock = (*snapshot)["docks"][0];
    EXPECT_EQ(dock["id"], "dock:" + std::to_string(dock["displayID"].get<std::uint32_t>()));
    EXPECT_EQ(dock["side"], "bottom");
    EXPECT_EQ(dock["x"], 140.0);
    EXPECT_EQ(dock["y"], 752.0);
    EXPECT_EQ(dock["width"], 1000.0);
    EXPECT_EQ(dock["height"], 48.0);
    // A shelf this low is no backdrop: the panel stays a window at the Dock level.
    const Json* record = recordOf(*snapshot, getpid());
    ASSERT_TRUE(record);
    EXPECT_EQ((*record)["layer"], 20);

    // A second panel on the same monitor: each shelf names its panel.
    const testing::DockWindow side(display_, {0, 100, 48, 600});
    const auto both = snapshotWhere(*sampler, [](const Json& line) { return line["docks"].size() == 2; });
    ASSERT_TRUE(both);
    const std::string display = std::to_string(dock["displayID"].get<std::uint32_t>());
    std::map<std::string, std::string> sides;
    for (const Json& shelf : (*both)["docks"]) sides[shelf["id"]] = shelf["side"];
    EXPECT_EQ(sides, (std::map<std::string, std::string>{
                         {"dock:" + display + ":" + std::to_string(panel.window()), "bottom"},
                         {"dock:" + display + ":" + std::to_string(side.window()), "left"}}));
}

TEST_F(X11SnapshotTest, WindowsAreReportedAtTheBoundsTheyShowOnScreen) {
    if (!installed("wmctrl")) GTEST_SKIP() << "wmctrl is needed";
    const xcb_atom_t shadowsAtom = atom("_GTK_FRAME_EXTENTS");
    const xcb_atom_t motifAtom = atom("_MOTIF_WM_HINTS");
    // A client that draws its own title bar and shadows, as GTK windows do,
    // and asks the manager for no decorations.
    const SolidWindow drawn(connection_, ewmh_, {200, 150, 548, 448}, 0x808080, true, [&](xcb_window_t id) {
        const std::uint32_t shadows[] = {24, 24, 16, 32};  // left, right, top, bottom
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id, shadowsAtom, XCB_ATOM_CARDINAL, 32, 4, shadows);
        const std::uint32_t undecorated[] = {2, 0, 0, 0, 0};  // the decorations field, set to none
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id, motifAtom, motifAtom, 32, 5, undecorated);
    });
    // A pop-up's border is part of it.
    const SolidWindow bordered(connection_, ewmh_, {900, 100, 120, 80}, 0x00A000, false, [&](xcb_window_t id) {
        const std::uint32_t border = 3;
        xcb_configure_window(connection_, id, XCB_CONFIG_WINDOW_BORDER_WIDTH, &border);
    });
    const SolidWindow shaded(connection_, ewmh_, {700, 400, 300, 200}, 0x0000A0, true);
    ASSERT_TRUE(
        eventually([&] { return testing::isManaged(ewmh_, drawn.id()) && testing::isManaged(ewmh_, shaded.id()); }));
    const auto unshaded = testing::frameOf(connection_, shaded.id());
    ASSERT_TRUE(unshaded);
    ASSERT_EQ(
        testing::runToEnd({"wmctrl", "-i", "-r", std::to_string(shaded.id()), "-b", "add,shaded"}, {displayVariable()}),
        0);
    std::optional<testing::Frame> titleBar;
    ASSERT_TRUE(eventually([&] {
        titleBar = testing::frameOf(connection_, shaded.id());
        return titleBar && titleBar->height < unshaded->height;
    }));
    const auto drawnFrame = testing::frameOf(connection_, drawn.id());
    const auto drawnClient = clientRect(drawn.id());
    ASSERT_TRUE(drawnFrame && drawnClient);
    ASSERT_EQ((Rect{drawnFrame->x, drawnFrame->y, drawnFrame->width, drawnFrame->height}), *drawnClient)
        << "the manager left the window undecorated";

    auto sampler = startSampler();
    const Rect visible{drawnClient->x + 24, drawnClient->y + 16, 548 - 48, 448 - 48};
    const Rect withBorder{900, 100, 126, 86};
    const Rect title{titleBar->x, titleBar->y, titleBar->width, titleBar->height};
    std::optional<Json> last;
    const auto snapshot = snapshotWhere(*sampler, [&](const Json& line) {
        last = line;
        const int places[] = {placeOf(line, drawn.recordId()), placeOf(line, bordered.recordId()),
                              placeOf(line, shaded.recordId())};
        for (const int place : places)
            if (place < 0) return false;
        const Json& windows = line["windows"];
        return boundsOf(windows[places[0]]) == visible && boundsOf(windows[places[1]]) == withBorder &&
               boundsOf(windows[places[2]]) == title;
    });
    EXPECT_TRUE(snapshot) << "wanted " << visible.y << " " << title.height << ", last " << (last ? last->dump() : "");
}

TEST_F(X11SnapshotTest, TheListFollowsTheServerStackingOrderForEveryKindOfWindow) {
    const SolidWindow managed(connection_, ewmh_, {100, 100, 400, 300}, 0xC0C0C0, true);
    ASSERT_TRUE(eventually([&] { return testing::isManaged(ewmh_, managed.id()); }));
    const SolidWindow popUp(connection_, ewmh_, {300, 200, 400, 300}, 0x202020, false);

    auto sampler = startSampler();
    const auto raised = snapshotWhere(*sampler, [&](const Json& line) {
        return placeOf(line, managed.recordId()) >= 0 && placeOf(line, popUp.recordId()) >= 0;
    });
    ASSERT_TRUE(raised);
    EXPECT_LT(placeOf(*raised, popUp.recordId()), placeOf(*raised, managed.recordId()));
    // Lowered below every window, as desktop widgets keep themselves.
    const std::uint32_t below = XCB_STACK_MODE_BELOW;
    xcb_configure_window(connection_, popUp.id(), XCB_CONFIG_WINDOW_STACK_MODE, &below);
    xcb_flush(connection_);
    EXPECT_TRUE(snapshotWhere(*sampler, [&](const Json& line) {
        const int popUpPlace = placeOf(line, popUp.recordId());
        return popUpPlace >= 0 && popUpPlace > placeOf(line, managed.recordId());
    }));
}

// The wallpaper clicked, an empty desktop entered, the last window closed:
// the desktop is still in use, and its owner (here the window manager) is in
// front, as a file manager is on other desktops.
TEST_F(X11SnapshotTest, WithNoActiveWindowTheDesktopsOwnerIsInFrontAndCaptureGoesOn) {
    if (!installed("xterm") || !installed("xdotool")) GTEST_SKIP() << "xterm and xdotool are needed";
    auto client = std::make_unique<Child>(std::vector<std::string>{"xterm", "-geometry", "80x24+100+100"},
                                          std::vector<std::string>{displayVariable()});
    const xcb_window_t window = managedClientOf(*client);
    const pid_t xterm = client->pid();
    const pid_t manager = manager_->pid();
    auto sampler = startSampler({"--allow-screen-capture"});
    ASSERT_TRUE(snapshotWhere(*sampler, [&](const Json& line) { return line["context"]["frontPID"] == xterm; }));
    sampler->write("capture-select\n");
    ASSERT_TRUE(snapshotWhere(*sampler, [](const Json& line) { return line["captureSession"] == "ready"; }));

    const auto desktopInFront = [&](const char* how) {
        const auto front = [&](const Json& line) { return line["context"]["frontPID"] == manager; };
        if (!snapshotWhere(*sampler, front))
            return ADD_FAILURE() << "the desktop's owner never came in front once " << how;
        for (const std::string& text : sampler->readLinesFor(500ms)) {
            const Json line = Json::parse(text);
            if (line["sessionSafe"] != true || line["captureSession"] != "ready")
                return ADD_FAILURE() << "once " << how << ": " << line["sessionSafe"] << " " << line["captureSession"];
        }
    };
    const auto xtermInFront = [&] {
        testing::activate(ewmh_, window);
        ASSERT_TRUE(snapshotWhere(*sampler, [&](const Json& line) { return line["context"]["frontPID"] == xterm; }));
    };
    ASSERT_EQ(testing::runToEnd({"xdotool", "mousemove", "1100", "700", "click", "1"}, {displayVariable()}), 0);
    desktopInFront("the wallpaper clicked");
    xtermInFront();
    testing::switchDesktop(ewmh_, 1);
    desktopInFront("an empty desktop entered");
    testing::switchDesktop(ewmh_, 0);
    xtermInFront();
    client.reset();
    desktopInFront("the last window closed");
    sampler->write("quit\n");
    EXPECT_EQ(sampler->wait(), 0);
}

// On a display of its own, which no other server takes while this one is down.
class X11LostServerTest : public X11SnapshotTest {
protected:
    void SetUp() override {
        requestedDisplay_ = testing::privateDisplay();
        X11SnapshotTest::SetUp();
    }
};

// Windows, workspace notifications, input counters and capture all come back
// with the server; in between the window list is unknown, not empty.
TEST_F(X11LostServerTest, IsUnavailableUntilItAnswersAgainOnTheSameDisplay) {
    if (!installed("xdotool")) GTEST_SKIP() << "xdotool is needed";
    auto sampler = startSampler({"--allow-screen-capture"});
    sampler->write("capture-select\n");
    ASSERT_TRUE(snapshotWhere(*sampler, [](const Json& line) { return line["captureSession"] == "ready"; }));
    const std::string display = display_;

    stopDesktop();
    const auto lost = testing::eventually([&] { return sampler->readLine() == kUnavailableLine; });
    ASSERT_TRUE(lost);
    EXPECT_NE(sampler->readError(1s).find("is lost"), std::string::npos);

    startDesktop(display);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(display_, display);
    const SolidWindow window(connection_, ewmh_, {100, 100, 300, 200}, 0x406080, true);
    const auto back = snapshotWhere(*sampler, [&](const Json& line) { return placeOf(line, window.recordId()) >= 0; });
    ASSERT_TRUE(back);
    EXPECT_NE(sampler->readError(1s).find("answers again"), std::string::npos);

    testing::switchDesktop(ewmh_, 1);
    EXPECT_TRUE(snapshotWhere(*sampler, [&](const Json& line) {
        return line["context"]["spaceRevision"] != (*back)["context"]["spaceRevision"];
    })) << "desktop switches are heard of again";
    ASSERT_EQ(testing::runToEnd({"xdotool", "mousemove_relative", "5", "5"}, {displayVariable()}), 0);
    EXPECT_TRUE(snapshotWhere(*sampler, [&](const Json& line) {
        return line["inputRevision"] != (*back)["inputRevision"];
    })) << "input is counted again";
    sampler->write("capture-select\n");
    EXPECT_TRUE(snapshotWhere(*sampler, [](const Json& line) { return line["captureSession"] == "ready"; }));
    sampler->write("quit\n");
    EXPECT_EQ(sampler->wait(), 0);
}

}  // namespace
}  // namespace scene::x11
