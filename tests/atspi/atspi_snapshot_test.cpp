// The scene-sampler binary on a private X desktop with accessibility on: the
// controls and text inputs of a GTK application's focused window are the
// widgets it drew, where it drew them, and the focus follows its windows.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "atspi_session_for_test.h"
#include "child_process.h"
#include "x_desktop_for_test.h"

namespace scene::x11 {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using scene::testing::ChildProcess;

class AtspiSnapshotTest : public testing::AtspiSessionTest {
protected:
    std::unique_ptr<ChildProcess> startSampler(const std::vector<std::string>& arguments, bool withSessionBus = true) {
        std::vector<std::pair<std::string, std::string>> environment{{"DISPLAY", display_}};
        if (withSessionBus) {
            environment.emplace_back("DBUS_SESSION_BUS_ADDRESS", sessionAddress_);
            environment.emplace_back("XDG_RUNTIME_DIR", runtimeDirectory_);
        }
        std::vector<std::string> all{"--platform", "x11"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return std::make_unique<ChildProcess>(ChildProcess::Options{all, environment});
    }

    std::string recordID(const Json& app, const char* window) const {
        return std::to_string(app_->pid()) + ":" + std::to_string(app["windows"][window].get<std::uint32_t>());
    }
};

std::optional<Json> snapshotWhere(ChildProcess& sampler, const std::function<bool(const Json&)>& wanted) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto line = sampler.readLine(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
        if (!line) break;
        Json snapshot = Json::parse(*line);
        if (wanted(snapshot)) return snapshot;
    }
    return std::nullopt;
}

// The record in `items` drawn exactly where the application drew `widget`.
const Json* itemAt(const Json& items, const Json& widget) {
    for (const auto& item : items)
        if (item["x"] == widget["x"].get<double>() && item["y"] == widget["y"].get<double>() &&
            item["width"] == widget["width"].get<double>() && item["height"] == widget["height"].get<double>())
            return &item;
    return nullptr;
}

std::size_t indexOf(const Json& windows, const std::string& id) {
    for (std::size_t index = 0; index < windows.size(); ++index)
        if (windows[index]["id"] == id) return index;
    return windows.size();
}

TEST_F(AtspiSnapshotTest, ControlsAndInputsAreTheWidgetsTheFocusedWindowShows) {
    Json app = startApp();
    const xcb_window_t main = app["windows"]["main"].get<std::uint32_t>();
    testing::activate(ewmh_, main);
    ASSERT_TRUE(testing::eventually([&] { return (app = tell("focus name"))["active"] == "main"; }));
    const Json& widgets = app["widgets"];
    // A panel over the Open button: the button is there but cannot be seen.
    const Json& open = widgets["open"];
    const testing::DockWindow cover(display_, {open["x"].get<double>(), open["y"].get<double>(),
                                               open["width"].get<double>(), open["height"].get<double>()});
    ASSERT_TRUE(testing::eventually([&] { return testing::isManaged(ewmh_, cover.window()); }));

    auto sampler = startSampler({"--controls"});
    sampler->write("inputs-on\n");
    const auto snapshot = snapshotWhere(*sampler, [&](const Json& line) {
        // The first walks may run out of time (a slow build, the application
        // still answering its first reads); a whole one reaches the list rows.
        return line["accessibility"] == "ready" && line["context"]["focusedWindowId"] == recordID(app, "main") &&
               itemAt(line["controls"], widgets["save"]) && itemAt(line["controls"], widgets["row0"]) &&
               !line["inputs"].empty();
    });
    ASSERT_TRUE(snapshot);
    const Json& controls = (*snapshot)["controls"];
    const Json& inputs = (*snapshot)["inputs"];

    struct Expected {
        const char* widget;
        const char* role;  // nullptr: not reported
    };
    for (const auto& [widget, role] :
         {Expected{"save", "AXButton"}, Expected{"list", "AXScrollArea"}, Expected{"row0", "AXButton"},
          Expected{"name", "AXTextField"}, Expected{"secret", "AXSecureTextField"}, Expected{"open", nullptr},
          Expected{"row39", nullptr}, Expected{"remember", nullptr}}) {
        SCOPED_TRACE(widget);
        const Json* item = itemAt(controls, widgets[widget]);
        if (role == nullptr) {
            EXPECT_FALSE(item);
            continue;
        }
        ASSERT_TRUE(item);
        EXPECT_EQ((*item)["role"], role);
        EXPECT_EQ((*item)["windowId"], recordID(app, "main"));
    }

    // Inputs are the text fields alone, the focused one first.
    ASSERT_EQ(inputs.size(), 2u);
    EXPECT_EQ(itemAt(inputs, widgets["name"]), &inputs[0]);
    EXPECT_EQ(inputs[0]["focused"], true);
    EXPECT_EQ(inputs[0]["valueWritable"], true);
    const Json* secret = itemAt(inputs, widgets["secret"]);
    ASSERT_TRUE(secret);
    EXPECT_EQ((*secret)["role"], "AXSecureTextField");
    EXPECT_EQ((*secret)["focused"], false);

    // Scrolled to its end, the list shows its last rows where they are now.
    const Json scrolled = tell("scroll")["widgets"];
    EXPECT_TRUE(snapshotWhere(*sampler, [&](const Json& line) {
        return itemAt(line["controls"], scrolled["row39"]) && !itemAt(line["controls"], scrolled["row0"]) &&
               !itemAt(line["controls"], widgets["row0"]);
    }));
}

TEST_F(AtspiSnapshotTest, FocusMovesToAWindowThatIsNotRaised) {
    Json app = startApp();
    const xcb_window_t main = app["windows"]["main"].get<std::uint32_t>();
    const xcb_window_t second = app["windows"]["second"].get<std::uint32_t>();
    testing::activate(ewmh_, main);
    ASSERT_TRUE(testing::eventually([&] { return (app = tell("report"))["active"] == "main"; }));

    auto sampler = startSampler({"--controls"});
    sampler->write("inputs-on\n");
    const auto before = snapshotWhere(*sampler, [&](const Json& line) {
        return line["context"]["focusedWindowId"] == recordID(app, "main") && !line["inputs"].empty();
    });
    ASSERT_TRUE(before);

    // The keyboard focus goes to the second window; the manager leaves the
    // stacking alone, so the first window stays the application's top one.
    xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_POINTER_ROOT, second, XCB_CURRENT_TIME);
    xcb_flush(connection_);
    const auto after = snapshotWhere(*sampler, [&](const Json& line) {
        return line["context"]["focusedWindowId"] == recordID(app, "second") && !line["inputs"].empty();
    });
    ASSERT_TRUE(after);
    const Json& windows = (*after)["windows"];
    EXPECT_LT(indexOf(windows, recordID(app, "main")), indexOf(windows, recordID(app, "second")));
    app = tell("report");
    ASSERT_EQ(app["active"], "second");
    EXPECT_TRUE(itemAt((*after)["inputs"], app["widgets"]["note"]));
    EXPECT_EQ((*after)["inputs"].size(), 1u);
}

TEST_F(AtspiSnapshotTest, AccessibilityIsGrantedWhereTheSessionHasAnAccessibilityBus) {
    const auto granted = [&](bool withSessionBus) {
        auto status = startSampler({"--permission-status"}, withSessionBus);
        const auto line = status->readLine(10s);
        EXPECT_EQ(status->wait(10s), 0);
        return line ? Json::parse(*line)["accessibility"] : Json();
    };
    EXPECT_EQ(granted(true), true);
    // Without a session bus there is no accessibility bus to find.
    EXPECT_EQ(granted(false), false);
    auto sampler = startSampler({"--controls"}, false);
    EXPECT_TRUE(
        snapshotWhere(*sampler, [](const Json& line) { return line["accessibility"] == "permission-required"; }));
}

}  // namespace
}  // namespace scene::x11
