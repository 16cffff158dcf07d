// Window records, system windows, focus, session safety and re-anchoring.
#include "core/scene_model.h"

#include <gtest/gtest.h>

#include <limits>

#include "core/item_positioning.h"
#include "core/system_windows.h"
#include "core/window_records.h"

namespace scene {
namespace {

Json entry(std::int32_t pid, int number, int layer, double x, double y, double width, double height,
           std::optional<double> alpha = std::nullopt) {
    Json e = {{"kCGWindowOwnerPID", pid},
              {"kCGWindowNumber", number},
              {"kCGWindowLayer", layer},
              {"kCGWindowBounds", {{"X", x}, {"Y", y}, {"Width", width}, {"Height", height}}}};
    if (alpha) e["kCGWindowAlpha"] = *alpha;
    return e;
}

struct RecordFixture {
    std::set<std::int32_t> excluded{900};
    std::set<std::int32_t> annotation{901};
    std::set<std::int32_t> companion{902};
    std::set<std::int32_t> dock{50};
    std::set<std::int32_t> notification{60};
    std::vector<Rect> displays{{0, 0, 1440, 900}, {1440, 0, 1920, 1080}};
    std::set<std::int32_t> inputMethods{70};

    WindowRecords build(const Json& list) const {
        return buildWindowRecords(list,
                                  WindowRecordFilter{excluded, annotation, companion, dock, notification, 999, displays,
                                                     [this](std::int32_t pid) { return inputMethods.contains(pid); }});
    }
    std::vector<std::string> ids(const Json& list) const {
        std::vector<std::string> result;
        for (const Json& record : build(list).records) result.push_back(record["id"]);
        return result;
    }
};

TEST(WindowRecords, DropsWhatTheCompanionMustNotSee) {
    RecordFixture f;
    const Json list = Json::array({
        entry(900, 1, 0, 0, 0, 100, 100),      // excluded on the command line
        entry(901, 1, 0, 0, 0, 100, 100),      // agent service
        entry(902, 1, 0, 0, 0, 100, 100),      // companion
        entry(999, 1, 0, 0, 0, 100, 100),      // this process
        entry(1, 1, 0, 0, 0, 100, 100, 0.05),  // invisible
        entry(1, 2, 0, 0, 0, 100, 100, 0.051),
        entry(1, 3, 0, 0, 0, 0.5, 100),  // too thin
        entry(1, 4, 0, 0, 0, 1, 1),
        entry(50, 5, 20, 0, 0, 301, 301),  // Dock backdrop
        entry(50, 6, 20, 0, 800, 300, 400),
        entry(50, 7, 19, 0, 0, 400, 400),
        Json{{"kCGWindowOwnerPID", 1}, {"kCGWindowLayer", 0}},  // malformed
        Json{{"kCGWindowOwnerPID", "1"},
             {"kCGWindowNumber", 8},
             {"kCGWindowLayer", 0},
             {"kCGWindowBounds", {{"X", 0}, {"Y", 0}, {"Width", 9}, {"Height", 9}}}},
    });
    EXPECT_EQ(f.ids(list), (std::vector<std::string>{"1:2", "1:4", "50:6", "50:7"}));
}

TEST(WindowRecords, NonFiniteGeometryIsMalformed) {
    RecordFixture f;
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const Json list = Json::array({
        entry(1, 1, 0, kNaN, 0, 100, 100), entry(1, 2, 0, 0, -kInf, 100, 100), entry(1, 3, 0, 0, 0, kInf, 100),
        entry(1, 4, 0, 0, 0, 100, kNaN), entry(1, 5, 0, 0, 0, 100, 100, kInf),
        entry(1, 6, 0, 1e308, -1e308, 1e308, 1e308),  // huge but finite
    });
    EXPECT_EQ(f.ids(list), (std::vector<std::string>{"1:6"}));
}

TEST(WindowRecords, RecordKeysAndKinds) {
    RecordFixture f;
    const Json record = f.build(Json::array({entry(412, 8731, 3, 10, 20, -30, 40)})).records.at(0);
    EXPECT_EQ(record, (Json{{"id", "412:8731"},
                            {"pid", 412},
                            {"layer", 3},
                            {"alpha", 1.0},
                            {"x", 10.0},
                            {"y", 20.0},
                            {"width", 30.0},
                            {"height", 40.0}}));
    EXPECT_TRUE(record["alpha"].is_number_float());
    EXPECT_TRUE(record["pid"].is_number_integer());
}

TEST(WindowRecords, OnlyTheFirst1024EntriesCount) {
    RecordFixture f;
    Json list = Json::array();
    for (int i = 0; i < 1500; ++i) list.push_back(entry(1, i, 0, 0, 0, 10, 10));
    EXPECT_EQ(f.build(list).records.size(), 1024u);
}

TEST(WindowRecords, SystemWindows) {
    RecordFixture f;
    const Json list = Json::array({
        entry(60, 1, 21, 2, -2, 1440, 900),    // backdrop of one display, 2 points off
        entry(60, 2, 21, 0, 0, 3360, 1080),    // backdrop over both displays
        entry(60, 3, 21, 2.5, 0, 1440, 900),   // 2.5 points off: a window
        entry(60, 4, 20, 0, 0, 1440, 900),     // other layer: a window
        entry(70, 5, 25, 400, 300, 200, 80),   // candidate panel of an input method
        entry(71, 6, 25, 400, 300, 200, 80),   // same panel of an ordinary application
        entry(70, 7, 25, 400, 300, 1201, 80),  // too wide for a candidate panel
        entry(60, 8, 25, 400, 300, 200, 80),   // notification UI that looks like a candidate
    });
    f.inputMethods.insert(60);
    const WindowRecords built = f.build(list);
    EXPECT_EQ(built.notificationBackdropsIgnored, 2);
    std::vector<std::pair<std::string, std::string>> tags;
    for (const Json& record : built.records) tags.emplace_back(record["id"], record.value("systemUI", ""));
    EXPECT_EQ(tags, (std::vector<std::pair<std::string, std::string>>{{"60:3", "notification-center"},
                                                                      {"60:4", "notification-center"},
                                                                      {"70:5", "input-method-candidate"},
                                                                      {"71:6", ""},
                                                                      {"70:7", ""},
                                                                      {"60:8", "input-method-candidate"}}));
}

TEST(SystemWindows, BackdropNeedsDisplays) {
    EXPECT_FALSE(isNotificationCenterBackdrop({0, 0, 100, 100}, 21, std::string(kNotificationCenterBundleID), {}));
    EXPECT_FALSE(isNotificationCenterBackdrop({0, 0, 100, 100}, 21, std::nullopt, {{0, 0, 100, 100}}));
    EXPECT_TRUE(isNotificationCenterBackdrop({0, 0, 100, 100}, 21, std::string(kNotificationCenterBundleID),
                                             {{0, 0, 100, 100}}));
    // Covering one display and half of the next matches neither.
    EXPECT_FALSE(isNotificationCenterBackdrop({0, 0, 150, 100}, 21, std::string(kNotificationCenterBundleID),
                                              {{0, 0, 100, 100}, {100, 0, 100, 100}}));
}

TEST(SystemWindows, InputMethodCandidateSizes) {
    EXPECT_TRUE(isInputMethodCandidate({0, 0, 16, 12}, 20, true));
    EXPECT_FALSE(isInputMethodCandidate({0, 0, 16, 12}, 19, true));
    EXPECT_FALSE(isInputMethodCandidate({0, 0, 16, 12}, 20, false));
    EXPECT_FALSE(isInputMethodCandidate({0, 0, 15.9, 12}, 20, true));
    EXPECT_FALSE(isInputMethodCandidate({0, 0, 100, 321}, 20, true));
    EXPECT_FALSE(isInputMethodCandidate(Rect::null(), 20, true));
}

TEST(SystemWindows, InputMethodBundlePaths) {
    const std::string home = "/Users/demo";
    const std::pair<std::optional<std::string>, bool> cases[] = {
        {"/Library/Input Methods/Kana.app/Contents/MacOS/Kana", true},
        {"/System/Library/Input Methods/Pinyin.app", true},
        {"/Users/demo/Library/Input Methods/Mine.app/Contents", true},
        {"/Library/Input Methods/Kana.bundle/Contents/MacOS/Kana", false},
        {"/Applications/Kana.app", false},
        {"/Applications/../Library/Input Methods/./Kana.app/Contents", true},
        {"/Library/Input Methods/Kana.app/../../../Applications/X.app", false},
        {"/Library/Input Methods/", false},
        {std::nullopt, false},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(isInputMethodBundle(path, home), expected) << *path;
}

Json record(const std::string& id, std::int32_t pid, int layer, double width) {
    return {{"id", id}, {"pid", pid}, {"layer", layer}, {"x", 0.0}, {"y", 0.0}, {"width", width}, {"height", 50.0}};
}

TEST(SceneModel, FocusCandidate) {
    const Records three = {record("1:1", 1, 3, 500), record("1:2", 1, 0, 60), record("1:3", 1, 0, 120)};
    EXPECT_EQ(focusCandidate(three, 1, std::nullopt), "1:3");
    EXPECT_EQ(focusCandidate({record("1:1", 1, 3, 500), record("1:2", 1, 0, 60)}, 1, std::nullopt), "1:1");
    EXPECT_EQ(focusCandidate({record("1:1", 1, 25, 500)}, 1, std::nullopt), std::nullopt);
    EXPECT_EQ(focusCandidate(three, 1, std::string("1:2")), "1:2");
    // The accessibility walk naming another application's window is not used.
    EXPECT_EQ(focusCandidate({record("2:1", 2, 0, 500), record("1:3", 1, 0, 120)}, 1, std::string("2:1")), "1:3");
}

TEST(SceneModel, SessionSafety) {
    const Json safe = {{"CGSSessionScreenIsLocked", false}, {"kCGSSessionOnConsoleKey", true}};
    const RunningApplication editor{12, "com.example.editor"};
    EXPECT_TRUE(isSessionSafe(safe, editor));
    EXPECT_TRUE(isSessionSafe(Json{{"kCGSSessionOnConsoleKey", true}}, RunningApplication{12, std::nullopt}));
    EXPECT_FALSE(isSessionSafe(Json{{"CGSSessionScreenIsLocked", true}, {"kCGSSessionOnConsoleKey", true}}, editor));
    EXPECT_FALSE(isSessionSafe(safe, RunningApplication{3, "com.apple.loginwindow"}));
    EXPECT_FALSE(isSessionSafe(Json{{"kCGSSessionOnConsoleKey", false}}, editor));
    EXPECT_FALSE(isSessionSafe(Json{{"kCGSSessionOnConsoleKey", 1}}, editor));
    EXPECT_FALSE(isSessionSafe(std::nullopt, editor));
    EXPECT_FALSE(isSessionSafe(safe, std::nullopt));
}

TEST(SceneModel, SceneKey) {
    EXPECT_EQ(sceneKey(17, 412, std::string("412:8731")), "17:412:412:8731");
    EXPECT_EQ(sceneKey(17, 0, std::nullopt), "17:0:none");
}

TEST(ItemPositioning, FollowsMovedWindowsAndDropsResizedOnes) {
    const Json item = {{"id", "412:1/ax-1"},
                       {"windowId", "412:1"},
                       {"x", 110.0},
                       {"y", 220.0},
                       {"clip", {{"x", 100.0}, {"y", 200.0}, {"width", 50.0}, {"height", 20.0}}},
                       {"windowBounds", {{"x", 100.0}, {"y", 200.0}, {"width", 300.0}, {"height", 400.0}}}};
    auto window = [](double x, double y, double width, double height) {
        return Json{{"id", "412:1"}, {"x", x}, {"y", y}, {"width", width}, {"height", height}};
    };
    const Records moved = positioned({item}, {window(130, 188, 300, 400)});
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0]["x"], 140.0);
    EXPECT_EQ(moved[0]["y"], 208.0);
    EXPECT_EQ(moved[0]["clip"]["x"], 130.0);
    EXPECT_EQ(moved[0]["clip"]["y"], 188.0);
    EXPECT_EQ(moved[0]["clip"]["width"], 50.0);
    EXPECT_EQ(positioned({item}, {window(100, 200, 303.9, 400)}).size(), 1u);
    EXPECT_TRUE(positioned({item}, {window(100, 200, 304, 400)}).empty());
    EXPECT_TRUE(positioned({item}, {}).empty());
    Json noBounds = item;
    noBounds.erase("windowBounds");
    EXPECT_TRUE(positioned({noBounds}, {window(100, 200, 300, 400)}).empty());
}

}  // namespace
}  // namespace scene
