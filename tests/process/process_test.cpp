// Black-box tests of the built binary: its lines, exit statuses and how it
// takes bad input. Timing is only checked loosely (rates within wide bounds).
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include "child_process.h"

namespace scene::testing {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr const char* kDesktop = R"({
  "format": 1,
  "displays": [{"id": 1, "bounds": [0, 0, 1440, 900]}],
  "applications": [{"pid": 100, "bundleId": "com.example.editor"}],
  "frontmost": 100,
  "windows": [{"pid": 100, "number": 7, "bounds": [100, 100, 600, 400], "titleBar": 28}]
})";

std::string writeScene(const std::string& name, const std::string& text) { return writeTempFile(name, text); }

ChildProcess start(std::vector<std::string> arguments, const std::string& scene = kDesktop) {
    arguments.insert(arguments.begin(), {"--scene", writeScene("desktop.json", scene)});
    return ChildProcess({arguments, {}, false});
}

// Reads until a whole period passes without a line.
std::size_t drain(ChildProcess& process, std::chrono::milliseconds quiet = 300ms) {
    std::size_t count = 0;
    while (process.readLine(quiet)) ++count;
    return count;
}

TEST(Process, PermissionStatusLine) {
    ChildProcess process({{"--permission-status", "--once", "--platform", "simulated"}, {}, false});
    EXPECT_EQ(process.readAll(), R"({"accessibility":true,"screen":true,"selectedCaptureSupported":true})" "\n");
    EXPECT_EQ(process.wait(), 0);
}

TEST(Process, RequestScreenPermissionExits64SilentlyBeforeAnyDesktop) {
    // No desktop is opened for it, so neither a bad scene nor an absent X
    // server changes the answer.
    const std::vector<std::string> forms[] = {
        {"--visual", "12", "--request-screen-permission"},
        {"--request-screen-permission", "--scene", ::testing::TempDir() + "absent.json"},
        {"--request-screen-permission", "--platform", "x11"},
    };
    for (const auto& arguments : forms) {
        ChildProcess process({arguments, {{"DISPLAY", ":9876"}}, false});
        EXPECT_EQ(process.readAll(), "") << arguments.back();
        EXPECT_EQ(process.wait(), 64) << arguments.back();
    }
    // The status line does need a desktop.
    const std::string absent = ::testing::TempDir() + "absent.json";
    ChildProcess status({{"--permission-status", "--request-screen-permission", "--scene", absent}, {}, false});
    EXPECT_EQ(status.readAll(), "");
    EXPECT_NE(status.readError().find(absent), std::string::npos);
    EXPECT_EQ(status.wait(), 2);
}

TEST(Process, HelpVersionAndUnknownOptions) {
    ChildProcess help({.arguments = {"--help", "--scene", ::testing::TempDir() + "absent.json"}, .protocolLines = false});
    const std::string usage = help.readAll();
    EXPECT_EQ(help.wait(), 0);
    for (const char* named : {"--allow-screen-capture", "--capture-state", "VANTU_CAPTURE_STATE_PATH", "DISPLAY",
                              "docs/protocol.md"})
        EXPECT_NE(usage.find(named), std::string::npos) << named;

    ChildProcess version({.arguments = {"--version"}, .protocolLines = false});
    EXPECT_EQ(version.readAll(), "scene-sampler " SCENE_SAMPLER_VERSION "\n");
    EXPECT_EQ(version.wait(), 0);

    // A flag of a newer version, or a misspelt one: named, and otherwise ignored.
    ChildProcess unknown = start({"--once", "--vizual"});
    EXPECT_EQ(Json::parse(unknown.readAll())["status"], "ready");
    EXPECT_EQ(unknown.readError(), "scene-sampler: ignoring unknown option --vizual\n");
    EXPECT_EQ(unknown.wait(), 0);
}

TEST(Process, ADisplayWithoutAServerIsAnErrorNotTheDemo) {
    ChildProcess process({{"--once"}, {{"DISPLAY", ":9876"}}, false});
    EXPECT_EQ(process.readAll(), "");
    EXPECT_EQ(process.readError(), "DISPLAY \":9876\": no X server answers (--platform simulated runs the demo desktop)\n");
    EXPECT_EQ(process.wait(), 2);
}

TEST(Process, OnceWritesOneSortedLegacySnapshot) {
    ChildProcess process = start({"--once", "--allow-screen-capture"});
    const std::string output = process.readAll();
    EXPECT_EQ(process.wait(), 0);
    ASSERT_EQ(std::count(output.begin(), output.end(), '\n'), 1);
    const Json snapshot = Json::parse(output);
    EXPECT_EQ(snapshot.size(), 27u);
    EXPECT_EQ(snapshot["captureMode"], "legacy");
    EXPECT_EQ(snapshot["windows"].size(), 1u);
    // Keys in alphabetical order on the wire.
    EXPECT_EQ(output.rfind(R"({"accessibility":)", 0), 0u);
    EXPECT_NE(output.find(R"("windows":[{"alpha":1.0,"height":400.0,"id":"100:7")"), std::string::npos);
}

TEST(Process, SamplesAboutThirtyTimesASecondAndFollowsRate) {
    ChildProcess process = start({});
    ASSERT_TRUE(process.readLine());
    const std::size_t atDefault = process.readLinesFor(2000ms).size();
    EXPECT_GE(atDefault, 45u);
    EXPECT_LE(atDefault, 75u);

    process.write("rate 100\n");
    process.readLinesFor(300ms);
    const std::size_t atHundred = process.readLinesFor(2000ms).size();
    EXPECT_GE(atHundred, 14u);
    EXPECT_LE(atHundred, 26u);
    process.write("quit\n");
    EXPECT_EQ(process.wait(), 0);
}

TEST(Process, PauseAndResume) {
    ChildProcess process = start({});
    ASSERT_TRUE(process.readLine());
    process.write("pause\n");
    drain(process);
    EXPECT_TRUE(process.readLinesFor(500ms).empty());
    process.write("resume\n");
    const auto line = process.readLine(2s);
    ASSERT_TRUE(line);
    EXPECT_EQ(Json::parse(*line)["status"], "ready");
    process.write("quit\n");
    EXPECT_EQ(process.wait(), 0);
}

TEST(Process, EndOfInputEndsAPausedProcess) {
    ChildProcess process = start({});
    process.write("pause\n");
    process.closeInput();
    EXPECT_EQ(process.wait(), 0);
}

TEST(Process, ParentLossEndsTheProcess) {
    ChildProcess process({{"--scene", writeScene("desktop.json", kDesktop)}, {}, true});
    ASSERT_TRUE(process.readLine());  // running, with its parent noted
    process.awaitOrphaned();
    EXPECT_EQ(process.wait(), 0);
}

// A desktop whose every snapshot line is longer than a page, the least room a
// pipe can have: with the pipe shrunk to that, the first line cannot be
// taken whole, and the writer is left half-way through it.
std::string crowdedDesktop() {
    Json scene = Json::parse(kDesktop);
    for (int number = 1; number <= 40; ++number)
        scene["windows"].push_back({{"pid", 100}, {"number", 100 + number}, {"bounds", {number * 10, 200, 300, 200}}});
    return scene.dump();
}

TEST(Process, EndsAtOnceWhileALineWaitsForAReaderThatStopped) {
    enum class Ending { endOfInput, quit, parentLost };
    for (const Ending ending : {Ending::endOfInput, Ending::quit, Ending::parentLost}) {
        SCOPED_TRACE(static_cast<int>(ending));
        ChildProcess process({.arguments = {"--scene", writeScene("crowded.json", crowdedDesktop())},
                              .orphan = ending == Ending::parentLost,
                              .outputPipeBytes = 4096});
        ASSERT_TRUE(process.awaitOutput());  // a page of the first line: the pipe is full
        if (ending == Ending::endOfInput) process.closeInput();
        if (ending == Ending::quit) process.write("quit\n");
        if (ending == Ending::parentLost) process.awaitOrphaned();
        EXPECT_EQ(process.wait(2s, /*reading=*/false), 0);
    }
}

TEST(Process, ALineThatWaitedForTheReaderArrivesWhole) {
    ChildProcess process(
        {.arguments = {"--scene", writeScene("crowded.json", crowdedDesktop())}, .outputPipeBytes = 4096});
    ASSERT_TRUE(process.awaitOutput());
    const auto lines = process.readLinesFor(300ms);
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines) EXPECT_EQ(Json::parse(line)["windows"].size(), 41u);
    process.write("quit\n");
    EXPECT_EQ(process.wait(), 0);
}

TEST(Process, StandardDescriptorsClosedAtStart) {
    // A closed input is at its end, a closed output takes no line; neither
    // may become one of the process's own pipes.
    for (const std::vector<int>& closed : {std::vector<int>{0}, {1}, {0, 1, 2}, {2}}) {
        SCOPED_TRACE(::testing::PrintToString(closed));
        ChildProcess process({.arguments = {"--scene", writeScene("desktop.json", kDesktop)}, .closed = closed});
        if (closed == std::vector<int>{2}) {
            ASSERT_TRUE(process.readLine());
            process.closeInput();
        }
        EXPECT_EQ(process.wait(), 0);
    }
    // The one line a refused scene writes goes nowhere, and the status stays.
    ChildProcess refused({.arguments = {"--scene", ::testing::TempDir() + "absent.json"}, .closed = {2}});
    EXPECT_EQ(refused.wait(), 2);
}

TEST(Process, ClosedOutputEndsTheProcessWithStatusZero) {
    ChildProcess process = start({});
    ASSERT_TRUE(process.readLine());
    process.closeOutput();
    EXPECT_EQ(process.wait(), 0);
}

TEST(Process, UnavailableWindowList) {
    ChildProcess process = start({"--once"}, R"({"format": 1, "windowList": "unavailable"})");
    EXPECT_EQ(process.readAll(), R"({"status":"unavailable","windows":[]})" "\n");
    EXPECT_EQ(process.wait(), 0);
}

TEST(Process, CharacterSplitAcrossChunksKeepsTheCommandsAfterIt) {
    ChildProcess process = start({});
    ASSERT_TRUE(process.readLine());
    process.write("anchor caf\xC3");
    // A snapshot takes a tick, long enough for the reader to take the first half alone.
    ASSERT_TRUE(process.readLine());
    process.readLine();
    process.write("\xA9\npause\n");
    drain(process);
    EXPECT_TRUE(process.readLinesFor(400ms).empty());
    process.write("quit\n");
    EXPECT_EQ(process.wait(), 0);
}

TEST(Process, ABrokenCharacterCostsNoCommandOfTheNextChunk) {
    ChildProcess process = start({});
    process.write("controls-on\n\xE2");
    // Controls are sampled once the first chunk was taken alone.
    ASSERT_TRUE(process.readLine());
    std::optional<std::string> line;
    while ((line = process.readLine()) && Json::parse(*line)["accessibility"] == "off") {
    }
    ASSERT_TRUE(line);
    process.write("quit\n");
    EXPECT_EQ(process.wait(), 0);
}

TEST(Process, EndlessLineIsDroppedAndLaterLinesStillRun) {
    ChildProcess process = start({});
    ASSERT_TRUE(process.readLine());
    const std::string flood(512 * 1024, 'x');
    process.write(flood);
    process.write("\npause\n");
    drain(process);
    EXPECT_TRUE(process.readLinesFor(400ms).empty());
    process.write("quit\n");
    EXPECT_EQ(process.wait(), 0);
}

TEST(Process, InvalidSceneExitsTwoWithOneLine) {
    const std::string path = writeScene("bad.json", R"({"format": 1, "timeline": [{"at": 1, "do": "jump"}]})");
    ChildProcess process({{"--scene", path}, {}, false});
    EXPECT_EQ(process.readAll(), "");
    const std::string error = process.readError();
    EXPECT_EQ(process.wait(), 2);
    EXPECT_EQ(error.rfind(path + ": timeline[0].do: unknown action \"jump\" (the actions are add-window, ", 0), 0u)
        << error;
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1);
}

TEST(Process, SceneFromTheEnvironmentAndTheDemoByDefault) {
    const std::string path =
        writeScene("env.json", R"({"format": 1, "windows": [{"pid": 5, "number": 1, "bounds": [0, 0, 10, 10]}]})");
    ChildProcess fromEnvironment({{"--once"}, {{"SCENE_SAMPLER_SCENE", path}}, false});
    const Json snapshot = Json::parse(fromEnvironment.readAll());
    EXPECT_EQ(snapshot["windows"].size(), 1u);
    EXPECT_EQ(fromEnvironment.wait(), 0);

    // Nothing names a desktop: the demo runs, and says so.
    ChildProcess demo({{"--once"}, {}, false});
    const Json demoSnapshot = Json::parse(demo.readAll());
    EXPECT_GE(demoSnapshot["windows"].size(), 3u);
    EXPECT_EQ(demo.wait(), 0);
    EXPECT_EQ(demo.readError(),
              "scene-sampler: no --platform, no scene and no DISPLAY: running the built-in demo desktop\n");
}

Json onceSnapshot(std::vector<std::string> arguments,
                  std::vector<std::pair<std::string, std::string>> environment = {}) {
    arguments.insert(arguments.begin(), {"--scene", writeScene("desktop.json", kDesktop), "--once"});
    ChildProcess process({arguments, environment, false});
    const std::string output = process.readAll();
    EXPECT_EQ(process.wait(), 0);
    return output.empty() ? Json() : Json::parse(output);
}

TEST(Process, CapturePauseReasonFromTheStateFile) {
    const std::pair<std::string, std::string> forms[] = {
        {"  capture-paused\n", "legacy"},
        {R"({"version": 2, "reason": "timeout"})", "timeout"},
        {R"({"version": 3, "reason": "permission", "source": "native"})", "permission"},
        {R"({"version": 4, "reason": "permission"})", "unknown"},
        {"{not json", "unknown"},
    };
    for (const auto& [content, reason] : forms) {
        const std::string path = writeScene("capture-state", content);
        EXPECT_EQ(onceSnapshot({"--capture-state", path})["capturePauseReason"], reason) << content;
        EXPECT_EQ(onceSnapshot({}, {{"VANTU_CAPTURE_STATE_PATH", path}})["capturePauseReason"], reason) << content;
    }
    // A named pipe nobody writes to is never opened for reading: no wait.
    const std::string pipe = writeTempFile("capture-state-pipe", "");
    ::unlink(pipe.c_str());
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(onceSnapshot({"--capture-state", pipe})["capturePauseReason"], "unknown");
    ::unlink(pipe.c_str());
    const std::string stateFile = writeScene("capture-state", "capture-paused");
    // The argument wins over the environment; a trailing "--capture-state" names
    // no file and stops the search.
    EXPECT_EQ(onceSnapshot({"--capture-state", ::testing::TempDir() + "absent"},
                           {{"VANTU_CAPTURE_STATE_PATH", stateFile}})["capturePauseReason"],
              "");
    EXPECT_EQ(onceSnapshot({"--capture-state"}, {{"VANTU_CAPTURE_STATE_PATH", stateFile}})["capturePauseReason"], "");
    EXPECT_EQ(onceSnapshot({})["capturePauseReason"], "");
}

TEST(Process, CaptureAccessAndMode) {
    ChildProcess withoutPermission = start({});
    const auto first = withoutPermission.readLine();
    ASSERT_TRUE(first);
    EXPECT_EQ(Json::parse(*first)["captureAccess"], "capture-disabled");
    EXPECT_EQ(Json::parse(*first)["captureMode"], "selected-session");
    withoutPermission.write("quit\n");
    EXPECT_EQ(withoutPermission.wait(), 0);

    ChildProcess allowed = start({"--allow-screen-capture"});
    const auto line = allowed.readLine();
    ASSERT_TRUE(line);
    // Allowed, but nothing selected yet: the selected stream's word.
    EXPECT_EQ(Json::parse(*line)["captureAccess"], "capture-paused");
    allowed.write("quit\n");
    EXPECT_EQ(allowed.wait(), 0);

    EXPECT_EQ(onceSnapshot({"--allow-screen-capture"})["captureMode"], "legacy");
    EXPECT_EQ(onceSnapshot({}, {{"VANTU_LIVE_CAPTURE", "1"}})["captureAccess"], "capture-disabled");
}

}  // namespace
}  // namespace scene::testing
