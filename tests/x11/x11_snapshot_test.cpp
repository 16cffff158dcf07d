// The scene-sampler binary on a private X desktop, started as a companion
// starts it: its snapshot lines name the clients, follow the active one, hide
// the windows while the desktop switches and find the panel's shelf.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "child_process.h"
#include "x_desktop_for_test.h"
#include "x_session_for_test.h"

namespace scene::x11 {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using scene::testing::ChildProcess;
using testing::Child;
using testing::installed;

class X11SnapshotTest : public testing::XSessionTest {
protected:
    std::unique_ptr<ChildProcess> startSampler() {
        return std::make_unique<ChildProcess>(
            ChildProcess::Options{{"--platform", "x11"}, {{"DISPLAY", display_}}, false, false});
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
}

}  // namespace
}  // namespace scene::x11
