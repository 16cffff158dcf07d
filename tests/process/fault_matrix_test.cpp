// The faults a long-running sampler meets, seen from outside the built binary:
// stream errors and stalled transports whose stops hang or fail, a picker that
// is cancelled or cannot start, displays that leave and come back changed, a
// login session that stops being safe, a window list that cannot be read, and
// the ways the process is told to end. Each row is a process of its own with a
// short scene timeline; the rows of one table run side by side, so a table
// takes about as long as its slowest timeline. What the tests wait for they
// read from the snapshots; where a timeline change cannot be seen in a
// snapshot, a marker window added at the same moment shows that it happened.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <exception>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"

namespace scene::testing {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;
using Check = std::function<bool(const Json&)>;

constexpr const char* kUnavailableLine = R"({"status":"unavailable","windows":[]})";
constexpr const char* kForeignDomain = "com.example.other";
constexpr const char* kMarkerWindow = "900:1";

// One small display keeps the frames cheap, since a dozen samplers run at once.
// The picker answers quickly, so a selection asked for at start-up streams long
// before the first fault of any timeline (1 s).
Json desktop() {
    return Json::parse(R"({
      "format": 1,
      "displays": [{"id": 1, "bounds": [0, 0, 640, 400]}],
      "applications": [{"pid": 100, "bundleId": "com.example.editor"},
                       {"pid": 50, "bundleId": "com.apple.loginwindow"}],
      "frontmost": 100,
      "windows": [{"pid": 100, "number": 7, "bounds": [80, 60, 400, 240], "titleBar": 24}],
      "picker": {"action": "select", "display": 1, "after": 0.1}
    })");
}

Json entry(double at, const char* action, Json keys = Json::object()) {
    keys["at"] = at;
    keys["do"] = action;
    return keys;
}

Json marker(double at) {
    return entry(at, "add-window", {{"window", {{"pid", 900}, {"number", 1}, {"bounds", {600, 10, 20, 20}}}}});
}

// An orphaned start also names its intermediate as the companion, as the
// companion names itself.
ChildProcess startSampler(const std::string& name, const Json& scene, bool orphan = false) {
    std::string file = "faults-" + std::to_string(::getpid()) + "-" + name + ".json";
    std::replace_if(
        file.begin(), file.end(), [](unsigned char c) { return !std::isalnum(c) && c != '.'; }, '-');
    const std::string path = writeTempFile(file, scene.dump());
    return ChildProcess({{"--scene", path, "--allow-screen-capture"}, {}, orphan, orphan});
}

// Snapshot look-ups.
const Json& metric(const Json& snapshot, const char* key) { return snapshot.at("captureMetrics").at(key); }
std::string state(const Json& snapshot) { return snapshot.at("captureSession"); }
std::uint64_t starts(const Json& snapshot) { return metric(snapshot, "starts"); }
std::uint64_t creations(const Json& snapshot) { return metric(snapshot, "streamCreations"); }
bool hasProofs(const Json& snapshot) { return !snapshot.at("supportProofs").empty(); }

bool isSnapshot(const Json& line) {
    return line.is_object() && line.contains("captureMetrics") && !line.contains("kind");
}

bool hasWindow(const Json& snapshot, const std::string& id) {
    const Json& windows = snapshot.at("windows");
    return std::any_of(windows.begin(), windows.end(), [&](const Json& w) { return w.at("id") == id; });
}

const Json* topProof(const Json& snapshot, const std::string& owner) {
    for (const Json& proof : snapshot.at("supportProofs"))
        if (proof.at("ownerId") == owner && proof.at("side") == "top") return &proof;
    return nullptr;
}

std::vector<std::string> eventNames(const Json& snapshot) {
    std::vector<std::string> names;
    for (const Json& event : metric(snapshot, "events")) names.push_back(event.at("event").get<std::string>());
    return names;
}

// Uptime of the newest event of that name.
std::optional<double> eventTime(const Json& snapshot, const std::string& name) {
    const Json& events = metric(snapshot, "events");
    for (auto it = events.rbegin(); it != events.rend(); ++it)
        if (it->at("event") == name) return it->at("uptime").get<double>();
    return std::nullopt;
}

// `expected` appears in the event log in this order, other events between.
bool logged(const Json& snapshot, const std::vector<std::string>& expected) {
    const auto names = eventNames(snapshot);
    auto at = names.begin();
    for (const auto& name : expected) {
        at = std::find(at, names.end(), name);
        if (at == names.end()) return false;
        ++at;
    }
    return true;
}

// What a failure message needs of a snapshot line, which is too long to print.
std::string summary(const Json& line) {
    if (!isSnapshot(line)) return line.dump();
    const Json& m = line.at("captureMetrics");
    std::ostringstream text;
    text << "captureSession=" << line.at("captureSession") << " sessionSafe=" << line.at("sessionSafe")
         << " display=" << line.at("captureSelectedDisplay") << " consents=" << m.at("consents")
         << " starts=" << m.at("starts") << " creations=" << m.at("streamCreations")
         << " recoveries=" << m.at("recoveries") << " replacements=" << m.at("transportReplacements")
         << " active=" << m.at("activeStreams") << " retiring=" << m.at("transportRetiring")
         << " reason=" << m.at("recoveryReason") << " error=" << m.at("errorCode")
         << " sourceUnavailable=" << m.at("sourceUnavailable") << " verification=" << line.at("supportVerification")
         << " proofs=" << line.at("supportProofs").size() << " events=";
    for (const auto& name : eventNames(line)) text << name << ",";
    return text.str();
}

// Reads snapshots until one satisfies `wanted`. Every snapshot before it must
// satisfy `meanwhile`, when given. Other lines ("unavailable", replies) are
// passed over.
std::optional<Json> awaitSnapshot(ChildProcess& process, const std::string& what, const Check& wanted,
                                  Milliseconds timeout, const Check& meanwhile = nullptr) {
    timeout *= kBuildSlowdown;
    const auto deadline = Clock::now() + timeout;
    std::optional<Json> last;
    while (true) {
        const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
        const auto line = left > 0ms ? process.readLine(left) : std::nullopt;
        if (!line) break;
        Json parsed = Json::parse(*line);
        if (!isSnapshot(parsed)) continue;
        if (wanted(parsed)) return parsed;
        if (meanwhile && !meanwhile(parsed)) {
            ADD_FAILURE() << "before " << what << ": " << summary(parsed);
            return std::nullopt;
        }
        last = std::move(parsed);
    }
    ADD_FAILURE() << "no snapshot " << what << " within " << timeout.count()
                  << " ms; last: " << (last ? summary(*last) : "none");
    return std::nullopt;
}

// Every snapshot for `duration` satisfies `invariant`; there is at least one.
void expectFor(ChildProcess& process, const std::string& what, Milliseconds duration, const Check& invariant) {
    std::size_t seen = 0;
    for (const std::string& line : process.readLinesFor(duration)) {
        const Json parsed = Json::parse(line);
        if (!isSnapshot(parsed)) continue;
        ++seen;
        if (!invariant(parsed)) {
            ADD_FAILURE() << what << ": " << summary(parsed);
            return;
        }
    }
    EXPECT_GT(seen, 0u) << what << ": no snapshots";
}

// Reads until the process has written nothing for `quiet`.
void drain(ChildProcess& process, Milliseconds quiet = 300ms) {
    for (int lines = 0; lines < 1000 && process.readLine(quiet); ++lines) {
    }
}

// Ends the process and reads its output to the end on the way: a sampler
// whose output is not read blocks in its write and never gets to the command.
void quit(ChildProcess& process) {
    process.write("quit\n");
    EXPECT_TRUE(process.awaitOutputEnd(5s * kBuildSlowdown)) << "still writing after quit";
    EXPECT_EQ(process.wait(1s * kBuildSlowdown), 0);
}

// Runs `run` for every row, a few rows at a time, each on a thread of its own.
// As many samplers as there are cores run at once: more would share the
// machine so thinly (under a sanitizer above all) that a row's deadlines
// would measure its siblings instead of the sampler.
template <typename Row, typename Run>
void runSideBySide(const std::vector<Row>& rows, const Run& run) {
    const std::size_t lanes = std::min<std::size_t>(rows.size(), std::max(2u, std::thread::hardware_concurrency()));
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    threads.reserve(lanes);
    for (std::size_t lane = 0; lane < lanes; ++lane) {
        threads.emplace_back([&] {
            for (std::size_t index; (index = next++) < rows.size();) {
                const Row& row = rows[index];
                SCOPED_TRACE(row.name);
                try {
                    run(row);
                } catch (const std::exception& error) {
                    ADD_FAILURE() << error.what();
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
}

// A stream error from the delegate, or a start or output registration that
// fails, and the state the session settles in.
struct StreamFault {
    std::string name;
    Json stream = Json::object();   // the scene's stream settings
    Json timeline = Json::array();  // when the error strikes a running stream
    std::string settles;
    std::uint64_t starts = 0;
    std::uint64_t creations = 0;
    int recoveries = 0;  // also the attempts: nothing here runs 30 s without a fault
    int replacements = 0;
    Json reason = nullptr;
    Json errorCode = nullptr;
    std::vector<std::string> events;  // logged in this order, after the selection
};

Json errorAt(long code, const char* domain = nullptr) {
    Json error = entry(1.0, "stream-error", {{"code", code}});
    if (domain) error["domain"] = domain;
    return Json::array({error});
}

const std::vector<std::string> kRestarted{"interrupted", "starting", "start-request", "first-frame"};

// Three restarts of a stream whose start keeps failing, then the last failure
// ends the selection.
std::vector<std::string> startFailures(const std::string& end) {
    std::vector<std::string> events;
    for (int attempt = 0; attempt < 3; ++attempt)
        events.insert(events.end(), {"start-request", "start-error", "interrupted", "starting"});
    events.insert(events.end(), {"start-request", "start-error", end});
    return events;
}

std::vector<StreamFault> streamFaults() {
    return {
        {.name = "interrupted: the same stream again",
         .timeline = errorAt(-3815),
         .settles = "ready",
         .starts = 2,
         .creations = 1,
         .recoveries = 1,
         .errorCode = -3815,
         .events = kRestarted},
        {.name = "connection lost -3805: a new stream",
         .timeline = errorAt(-3805),
         .settles = "ready",
         .starts = 2,
         .creations = 2,
         .recoveries = 1,
         .replacements = 1,
         .reason = "connection-lost",
         .errorCode = -3805,
         .events = kRestarted},
        {.name = "connection lost -3804: a new stream",
         .timeline = errorAt(-3804),
         .settles = "ready",
         .starts = 2,
         .creations = 2,
         .recoveries = 1,
         .replacements = 1,
         .reason = "connection-lost",
         .errorCode = -3804,
         .events = kRestarted},
        {.name = "stopped by the system",
         .timeline = errorAt(-3817),
         .settles = "stopped",
         .starts = 1,
         .creations = 1,
         .errorCode = -3817,
         .events = {"first-frame", "stopped"}},
        {.name = "declined",
         .timeline = errorAt(-3801),
         .settles = "rejected",
         .starts = 1,
         .creations = 1,
         .errorCode = -3801,
         .events = {"first-frame", "rejected"}},
        {.name = "any other code",
         .timeline = errorAt(-3802),
         .settles = "failed",
         .starts = 1,
         .creations = 1,
         .errorCode = -3802,
         .events = {"first-frame", "failed"}},
        {.name = "stop code of another domain",
         .timeline = errorAt(-3817, kForeignDomain),
         .settles = "failed",
         .starts = 1,
         .creations = 1,
         .errorCode = -3817,
         .events = {"first-frame", "failed"}},
        {.name = "lost-connection code of another domain",
         .timeline = errorAt(-3805, kForeignDomain),
         .settles = "failed",
         .starts = 1,
         .creations = 1,
         .errorCode = -3805,
         .events = {"first-frame", "failed"}},
        {.name = "start interrupted every time",
         .stream = {{"startError", -3815}},
         .settles = "failed",
         .starts = 4,
         .creations = 1,
         .recoveries = 3,
         .errorCode = -3815,
         .events = startFailures("failed")},
        {.name = "connection lost at every start",
         .stream = {{"startError", -3804}},
         .settles = "failed",
         .starts = 4,
         .creations = 4,
         .recoveries = 3,
         .replacements = 3,
         .reason = "connection-lost",
         .errorCode = -3804,
         .events = startFailures("failed")},
        {.name = "start declined",
         .stream = {{"startError", -3801}},
         .settles = "rejected",
         .starts = 1,
         .creations = 1,
         .errorCode = -3801,
         .events = {"start-request", "start-error", "rejected"}},
        {.name = "output refused",
         .stream = {{"addOutputError", -3802}},
         .settles = "failed",
         .starts = 0,
         .creations = 1,
         .errorCode = -3802,
         .events = {"selecting", "starting", "failed"}},
    };
}

void runStreamFault(const StreamFault& row) {
    Json scene = desktop();
    scene["stream"] = row.stream;
    scene["timeline"] = row.timeline;
    ChildProcess process = startSampler(row.name, scene);
    process.write("capture-select\n");
    if (!row.timeline.empty()) {
        // The error is meant for a stream that delivers.
        ASSERT_TRUE(awaitSnapshot(
            process, "streaming before the error", [](const Json& s) { return state(s) == "ready"; }, 3s));
    }
    const bool recovers = row.settles == "ready";
    const auto settled = awaitSnapshot(
        process, "settled in " + row.settles,
        [&](const Json& s) { return state(s) == row.settles && starts(s) == row.starts; }, 12s);
    ASSERT_TRUE(settled);
    const Json& s = *settled;
    EXPECT_EQ(creations(s), row.creations) << summary(s);
    EXPECT_EQ(metric(s, "recoveries"), row.recoveries) << summary(s);
    EXPECT_EQ(metric(s, "recoveryAttempts"), row.recoveries) << summary(s);
    EXPECT_EQ(metric(s, "transportReplacements"), row.replacements) << summary(s);
    EXPECT_EQ(metric(s, "recoveryReason"), row.reason) << summary(s);
    EXPECT_EQ(metric(s, "errorCode"), row.errorCode) << summary(s);
    EXPECT_EQ(metric(s, "consents"), 1) << summary(s);
    EXPECT_TRUE(logged(s, row.events)) << summary(s);
    // A recovered selection keeps its display and one live stream; an ended
    // one has neither, and capture access follows.
    EXPECT_EQ(s.at("captureSelectedDisplay"), recovers ? Json(1) : Json(nullptr)) << summary(s);
    EXPECT_EQ(metric(s, "activeStreams"), recovers ? 1 : 0) << summary(s);
    if (recovers) {
        ASSERT_TRUE(awaitSnapshot(
            process, "with supports from the recovered stream", [&](const Json& s) { return hasProofs(s); }, 3s,
            [&](const Json& s) { return starts(s) == row.starts; }));
    } else {
        EXPECT_EQ(s.at("captureAccess"), "capture-paused") << summary(s);
        EXPECT_FALSE(hasProofs(s)) << summary(s);
    }
    // Longer than a recovery tick: nothing starts again on its own.
    expectFor(process, "after settling", 2200ms, [&](const Json& later) {
        return starts(later) == row.starts && creations(later) == row.creations &&
               (recovers || state(later) == row.settles);
    });
    if (!recovers && !row.timeline.empty()) {
        // Only a new selection captures again, and it starts clean.
        process.write("capture-retry\n");
        const auto again = awaitSnapshot(
            process, "streaming after a retry",
            [](const Json& s) { return state(s) == "ready" && metric(s, "consents") == 2; }, 3s);
        ASSERT_TRUE(again);
        EXPECT_EQ(creations(*again), row.creations + 1) << summary(*again);
        EXPECT_EQ(metric(*again, "errorCode"), nullptr) << summary(*again);
        EXPECT_EQ(again->at("captureSelectedDisplay"), 1) << summary(*again);
    }
    quit(process);
}

// A stream that stops delivering is replaced after the stall limit; how the old
// transport's stop ends decides what follows.
struct Stall {
    enum class Stop { completes, hangs, fails };
    std::string name;
    Json stream = Json::object();
    Json timeline = Json::array();
    std::string reason;
    Stop stop = Stop::completes;
};

std::vector<Stall> stalls() {
    return {
        // Frames stop at 1 s; the transport goes at about 13 s; frames may flow
        // again from 14 s, before the new stream starts at about 15 s.
        {.name = "frames stall, the new transport delivers",
         .timeline = {entry(1.0, "stream", {{"deliver", false}}), entry(14.0, "stream", {{"deliver", true}})},
         .reason = "frames-stalled",
         .stop = Stall::Stop::completes},
        {.name = "no first frame, the old stop hangs",
         .stream = {{"deliver", false}, {"stop", "hangs"}},
         .reason = "start-without-frames",
         .stop = Stall::Stop::hangs},
        {.name = "no first frame, the old stop fails",
         .stream = {{"deliver", false}, {"stop", -3808}},
         .reason = "start-without-frames",
         .stop = Stall::Stop::fails},
    };
}

void runStall(const Stall& row) {
    constexpr double kStallLimit = 12.0;
    constexpr double kStopTimeout = 5.0;
    Json scene = desktop();
    scene["stream"] = row.stream;
    scene["timeline"] = row.timeline;
    ChildProcess process = startSampler(row.name, scene);
    process.write("capture-select\n");

    const auto retiring = awaitSnapshot(
        process, "retiring the stalled transport",
        [](const Json& s) { return metric(s, "transportReplacements") == 1; }, 17s,
        [](const Json& s) { return creations(s) <= 1 && metric(s, "recoveries") == 0; });
    ASSERT_TRUE(retiring);
    const Json& r = *retiring;
    EXPECT_EQ(state(r), "starting") << summary(r);
    EXPECT_EQ(metric(r, "recoveryReason"), row.reason) << summary(r);
    EXPECT_EQ(metric(r, "recoveryAttempts"), 1) << summary(r);
    const auto retiredAt = eventTime(r, "transport-retiring");
    const auto startedAt = eventTime(r, "start-request");
    ASSERT_TRUE(retiredAt && startedAt) << summary(r);
    EXPECT_GE(*retiredAt - *startedAt, kStallLimit) << summary(r);

    switch (row.stop) {
        case Stall::Stop::completes: {
            const auto replaced = awaitSnapshot(
                process, "ready on the new transport",
                [](const Json& s) { return state(s) == "ready" && creations(s) == 2; }, 6s);
            ASSERT_TRUE(replaced);
            const Json& s = *replaced;
            EXPECT_EQ(starts(s), 2u) << summary(s);
            EXPECT_EQ(metric(s, "activeStreams"), 1) << summary(s);
            EXPECT_EQ(metric(s, "transportRetiring"), false) << summary(s);
            EXPECT_EQ(metric(s, "recoveryReason"), row.reason) << summary(s);
            EXPECT_TRUE(
                logged(s, {"transport-retiring", "transport-retired", "starting", "start-request", "first-frame"}))
                << summary(s);
            // The new transport waits for the recovery tick.
            const auto stoppedAt = eventTime(s, "transport-retired");
            const auto restartedAt = eventTime(s, "start-request");
            ASSERT_TRUE(stoppedAt && restartedAt) << summary(s);
            EXPECT_GE(*restartedAt - *stoppedAt, 1.9) << summary(s);
            break;
        }
        case Stall::Stop::hangs: {
            // The old transport stays counted as live until the stop time-out.
            const auto failed = awaitSnapshot(
                process, "given up on the hung stop", [](const Json& s) { return state(s) == "failed"; }, 8s,
                [](const Json& s) {
                    return state(s) == "starting" && metric(s, "transportRetiring") == true &&
                           metric(s, "activeStreams") == 1;
                });
            ASSERT_TRUE(failed);
            const Json& s = *failed;
            EXPECT_EQ(metric(s, "recoveryReason"), "transport-stop-timeout") << summary(s);
            EXPECT_EQ(metric(s, "activeStreams"), 0) << summary(s);
            EXPECT_EQ(metric(s, "transportRetiring"), false) << summary(s);
            EXPECT_EQ(s.at("captureSelectedDisplay"), nullptr) << summary(s);
            EXPECT_EQ(creations(s), 1u) << summary(s);
            EXPECT_FALSE(logged(s, {"transport-retired"})) << summary(s);
            const auto failedAt = eventTime(s, "failed");
            ASSERT_TRUE(failedAt) << summary(s);
            EXPECT_GE(*failedAt - *retiredAt, kStopTimeout) << summary(s);
            break;
        }
        case Stall::Stop::fails: {
            const auto failed = awaitSnapshot(
                process, "given up on the failed stop", [](const Json& s) { return state(s) == "failed"; }, 3s);
            ASSERT_TRUE(failed);
            const Json& s = *failed;
            EXPECT_EQ(metric(s, "recoveryReason"), "transport-stop-error") << summary(s);
            EXPECT_EQ(metric(s, "errorCode"), -3808) << summary(s);
            EXPECT_EQ(metric(s, "activeStreams"), 0) << summary(s);
            EXPECT_EQ(creations(s), 1u) << summary(s);
            EXPECT_FALSE(logged(s, {"transport-retired"})) << summary(s);
            break;
        }
    }
    quit(process);
}

// The stall rows wait out the stall limit; the error rows run beside them.
TEST(FaultMatrix, StreamErrorsAndStallsRestartReplaceOrEndTheSelection) {
    std::thread stalled([] { runSideBySide(stalls(), runStall); });
    runSideBySide(streamFaults(), runStreamFault);
    stalled.join();
}

// The picker cancelled or unable to start, with nothing chosen yet or over a
// running stream; a second command after the marker meets the changed picker.
struct PickerOutcome {
    std::string name;
    Json picker;
    Json timeline = Json::array();
    std::string first;          // the state the first selection ends in
    Json firstError = nullptr;  // its error code
    std::string second = "";    // then, after the marker, this command
    std::uint64_t consents = 0;
    Json errorCode = nullptr;  // at the end
    std::vector<std::string> events;
};

TEST(FaultMatrix, PickerCancelledOrUnableToStart) {
    const Json select = {{"action", "select"}, {"display", 1}, {"after", 0.1}};
    const std::vector<PickerOutcome> rows = {
        {.name = "cancelled with nothing chosen",
         .picker = {{"action", "cancel"}, {"after", 0.1}},
         .first = "selection-required",
         .events = {"selecting", "selection-required"}},
        {.name = "unable to start, then retried",
         .picker = {{"action", "fail"}, {"after", 0.1}},
         .timeline = {entry(1.0, "picker", select), marker(1.0)},
         .first = "failed",
         .firstError = -3801,
         .second = "capture-retry",
         .consents = 1,
         .events = {"selecting", "failed", "selecting", "starting", "start-request", "first-frame"}},
        {.name = "cancelled over a running stream",
         .picker = select,
         .timeline = {entry(1.0, "picker", {{"action", "cancel"}}), marker(1.0)},
         .first = "ready",
         .second = "capture-select",
         .consents = 1,
         .events = {"first-frame", "selecting", "starting"}},
        {.name = "unable to start over a running stream",
         .picker = select,
         .timeline = {entry(1.0, "picker", {{"action", "fail"}, {"code", -3802}}), marker(1.0)},
         .first = "ready",
         .second = "capture-select",
         .consents = 1,
         .errorCode = -3802,
         .events = {"first-frame", "selecting", "starting"}},
    };
    runSideBySide(rows, [](const PickerOutcome& row) {
        Json scene = desktop();
        scene["picker"] = row.picker;
        scene["timeline"] = row.timeline;
        ChildProcess process = startSampler(row.name, scene);
        process.write("capture-select\n");
        auto last = awaitSnapshot(
            process, "after the first answer",
            [&](const Json& s) { return state(s) == row.first && logged(s, {"selecting"}); }, 3s);
        ASSERT_TRUE(last);
        EXPECT_EQ(metric(*last, "errorCode"), row.firstError) << summary(*last);
        if (!row.second.empty()) {
            ASSERT_TRUE(awaitSnapshot(
                process, "with the picker changed", [](const Json& s) { return hasWindow(s, kMarkerWindow); }, 3s));
            process.write(row.second + "\n");
            ASSERT_TRUE(awaitSnapshot(
                process, "presenting again", [](const Json& s) { return state(s) == "selecting"; }, 2s));
            // A stream that was running keeps running under the picker; frames
            // bring the state back.
            last = awaitSnapshot(
                process, "ready after the second answer", [](const Json& s) { return state(s) == "ready"; }, 3s,
                [](const Json& s) { return state(s) == "selecting" || state(s) == "starting"; });
            ASSERT_TRUE(last);
        }
        const Json& s = *last;
        EXPECT_EQ(metric(s, "consents"), row.consents) << summary(s);
        EXPECT_EQ(creations(s), row.consents) << summary(s);
        EXPECT_EQ(starts(s), row.consents) << summary(s);
        EXPECT_EQ(metric(s, "errorCode"), row.errorCode) << summary(s);
        EXPECT_EQ(s.at("captureSelectedDisplay"), row.consents > 0 ? Json(1) : Json(nullptr)) << summary(s);
        EXPECT_TRUE(logged(s, row.events)) << summary(s);
        quit(process);
    });
}

// The selected display leaves and comes back, possibly elsewhere and at another
// size, or changes in place. A changed display ends the selection; the next
// one captures the display as it is now, and the supports of a window on it
// are where the window now is.
struct DisplayChange {
    std::string name;
    Json timeline;
    bool leaves = false;   // inactive for a while
    bool changed = false;  // comes back with other bounds
    Json bounds;           // of display 2 at the end
    double windowTop = 0;  // of window 100:7 at the end
};

TEST(FaultMatrix, SelectedDisplayLeavesAndReturns) {
    const std::vector<DisplayChange> rows = {
        {.name = "leaves and returns",
         .timeline = {entry(1.5, "display", {{"id", 2}, {"active", false}}),
                      entry(2.5, "display", {{"id", 2}, {"active", true}})},
         .leaves = true,
         .bounds = {640, 0, 640, 400},
         .windowTop = 60},
        {.name = "leaves and returns elsewhere, larger",
         .timeline = {entry(1.5, "display", {{"id", 2}, {"active", false}}),
                      entry(2.5, "display", {{"id", 2}, {"active", true}, {"bounds", {0, 400, 800, 500}}}),
                      entry(2.5, "move-window", {{"window", "100:7"}, {"to", {80, 460}}})},
         .leaves = true,
         .changed = true,
         .bounds = {0, 400, 800, 500},
         .windowTop = 460},
        {.name = "resized in place",
         .timeline = {entry(1.5, "display", {{"id", 2}, {"bounds", {640, 0, 800, 500}}})},
         .changed = true,
         .bounds = {640, 0, 800, 500},
         .windowTop = 60},
    };
    runSideBySide(rows, [](const DisplayChange& row) {
        Json scene = desktop();
        scene["displays"].push_back(Json{{"id", 2}, {"bounds", {640, 0, 640, 400}}});
        scene["windows"][0]["bounds"] = {720, 60, 400, 240};
        scene["picker"]["display"] = 2;
        scene["timeline"] = row.timeline;
        ChildProcess process = startSampler(row.name, scene);
        process.write("capture-select\n");
        const auto hasTopAt = [](double y) {
            return [y](const Json& s) {
                const Json* proof = topProof(s, "100:7");
                return state(s) == "ready" && proof != nullptr && proof->at("fixed") == y;
            };
        };
        ASSERT_TRUE(awaitSnapshot(process, "with the window's top confirmed", hasTopAt(60), 3s));

        if (row.leaves) {
            const auto away = awaitSnapshot(
                process, "with the display gone", [](const Json& s) { return metric(s, "sourceUnavailable") == true; },
                3s);
            ASSERT_TRUE(away);
            EXPECT_EQ(state(*away), "interrupted") << summary(*away);
            // Nothing is published from a display that is not there.
            ASSERT_TRUE(awaitSnapshot(
                process, "with the display back", [](const Json& s) { return metric(s, "sourceUnavailable") == false; },
                3s,
                [](const Json& s) {
                    return state(s) == "interrupted" && metric(s, "fresh") == false && !hasProofs(s);
                }));
        }
        std::uint64_t consents = 1;
        if (row.changed) {
            const auto ended = awaitSnapshot(
                process, "with the selection ended", [](const Json& s) { return state(s) == "source-changed"; }, 3s);
            ASSERT_TRUE(ended);
            EXPECT_EQ(ended->at("captureSelectedDisplay"), nullptr) << summary(*ended);
            EXPECT_EQ(metric(*ended, "activeStreams"), 0) << summary(*ended);
            process.write("capture-select\n");
            consents = 2;
        }
        const auto settled = awaitSnapshot(
            process, "with the window's top on the display as it is",
            [&](const Json& s) { return metric(s, "consents") == consents && hasTopAt(row.windowTop)(s); }, 4s);
        ASSERT_TRUE(settled);
        const Json& s = *settled;
        const Json rect = {{"x", row.bounds[0].get<double>()},
                           {"y", row.bounds[1].get<double>()},
                           {"width", row.bounds[2].get<double>()},
                           {"height", row.bounds[3].get<double>()}};
        EXPECT_EQ(s.at("captureSelectedDisplay"), 2) << summary(s);
        EXPECT_EQ(metric(s, "filterRect"), rect) << summary(s);
        EXPECT_EQ(metric(s, "frameScreenRect"), rect) << summary(s);
        EXPECT_EQ(metric(s, "selectedWidth"), rect["width"]) << summary(s);
        EXPECT_EQ(metric(s, "selectedHeight"), rect["height"]) << summary(s);
        EXPECT_EQ(creations(s), consents) << summary(s);
        const Json& proof = *topProof(s, "100:7");
        EXPECT_EQ(proof.at("displayId"), 2) << proof;
        EXPECT_EQ(proof.at("ownerBounds").at("y"), row.windowTop) << proof;
        const double left = proof.at("ownerBounds").at("x");
        EXPECT_GE(proof.at("from").get<double>(), left) << proof;
        EXPECT_LE(proof.at("to").get<double>(), left + 400) << proof;
        quit(process);
    });
}

// The login session stops being safe to capture, then is safe again.
struct UnsafeSession {
    std::string name;
    Json timeline;
    std::uint64_t starts = 1;  // once safe again
};

TEST(FaultMatrix, UnsafeSessionPausesCaptureAndResetsSupports) {
    const auto sessionAt = [](double at, Json value) { return entry(at, "session", {{"value", std::move(value)}}); };
    const Json safe = {{"CGSSessionScreenIsLocked", false}, {"kCGSSessionOnConsoleKey", true}};
    const Json locked = {{"CGSSessionScreenIsLocked", true}, {"kCGSSessionOnConsoleKey", true}};
    const std::vector<UnsafeSession> rows = {
        {.name = "screen locked", .timeline = {sessionAt(1.0, locked), sessionAt(2.0, safe)}},
        {.name = "session off the console",
         .timeline = {sessionAt(1.0, {{"CGSSessionScreenIsLocked", false}, {"kCGSSessionOnConsoleKey", false}}),
                      sessionAt(2.0, safe)}},
        {.name = "no session dictionary", .timeline = {sessionAt(1.0, nullptr), sessionAt(2.0, safe)}},
        {.name = "login window in front",
         .timeline = {entry(1.0, "activate", {{"pid", 50}}), entry(2.0, "activate", {{"pid", 100}})}},
        // The recovery tick during the lock must wait for its end, not restart.
        {.name = "locked while the stream is interrupted",
         .timeline = {entry(1.0, "stream-error", {{"code", -3815}}), sessionAt(1.2, locked), sessionAt(3.5, safe)},
         .starts = 2},
    };
    runSideBySide(rows, [](const UnsafeSession& row) {
        Json scene = desktop();
        scene["timeline"] = row.timeline;
        ChildProcess process = startSampler(row.name, scene);
        process.write("capture-select\n");
        const auto inactive = [](const Json& s) {
            return state(s) == "interrupted" && s.at("supportVerification") == "session-inactive" && !hasProofs(s) &&
                   s.at("captureAccess") == "capture-paused";
        };
        const auto unsafe = awaitSnapshot(
            process, "in the unsafe session", [](const Json& s) { return s.at("sessionSafe") == false; }, 4s);
        ASSERT_TRUE(unsafe);
        EXPECT_TRUE(inactive(*unsafe)) << summary(*unsafe);
        ASSERT_TRUE(awaitSnapshot(
            process, "safe again", [](const Json& s) { return s.at("sessionSafe") == true; }, 5s, inactive));
        const auto back = awaitSnapshot(
            process, "with supports again",
            [&](const Json& s) { return state(s) == "ready" && starts(s) == row.starts && hasProofs(s); }, 5s);
        ASSERT_TRUE(back);
        // The selection and its stream outlive the unsafe session.
        EXPECT_EQ(metric(*back, "consents"), 1) << summary(*back);
        EXPECT_EQ(creations(*back), 1u) << summary(*back);
        EXPECT_EQ(back->at("supportVerification"), "ready") << summary(*back);
        quit(process);
    });
}

// A window list that cannot be read, or is not a list of dictionaries, gives
// the "unavailable" line every pass; capture is not affected.
struct UnreadableList {
    std::string name;
    std::string state;
};

TEST(FaultMatrix, UnreadableWindowListGivesTheUnavailableLine) {
    const std::vector<UnreadableList> rows = {{"no list", "unavailable"}, {"not a list of dictionaries", "malformed"}};
    runSideBySide(rows, [](const UnreadableList& row) {
        Json scene = desktop();
        scene["timeline"] = {entry(1.5, "window-list", {{"state", row.state}}),
                             entry(2.5, "window-list", {{"state", "available"}})};
        ChildProcess process = startSampler(row.name, scene);
        process.write("capture-select\n");
        ASSERT_TRUE(awaitSnapshot(
            process, "with supports", [](const Json& s) { return state(s) == "ready" && hasProofs(s); }, 3s));

        const auto deadline = Clock::now() + 4s;
        std::optional<std::string> line;
        const auto next = [&] {
            const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
            line = left > 0ms ? process.readLine(left) : std::nullopt;
            return line.has_value();
        };
        while (next() && *line != kUnavailableLine) {
        }
        ASSERT_TRUE(line) << "no unavailable line";
        std::size_t unavailable = 1;
        while (next() && *line == kUnavailableLine) ++unavailable;
        ASSERT_TRUE(line) << "the list did not come back";
        // About thirty passes a second for one second; the bound allows a slow
        // machine.
        EXPECT_GE(unavailable, 10u);
        const Json snapshot = Json::parse(*line);
        ASSERT_TRUE(isSnapshot(snapshot)) << *line;
        EXPECT_TRUE(hasWindow(snapshot, "100:7")) << *line;
        ASSERT_TRUE(awaitSnapshot(
            process, "with supports after the list is back",
            [](const Json& s) { return state(s) == "ready" && hasProofs(s); }, 3s));
        quit(process);
    });
}

// Every way the process is told to end, met in the states where ending is
// hardest: capture streaming, sampling paused, a stream whose stop never ends.
struct Ending {
    enum class Cause { endOfInput, closedOutput, closedOutputThenResume, parentLoss };
    std::string name;
    bool capturing = false;
    bool paused = false;
    Json stream = Json::object();
    Cause cause = Cause::endOfInput;
};

TEST(FaultMatrix, EndsWithStatusZeroWhateverItIsDoing) {
    const std::vector<Ending> rows = {
        {.name = "end of input while paused and capturing",
         .capturing = true,
         .paused = true,
         .cause = Ending::Cause::endOfInput},
        {.name = "end of input while the stream's stop would hang",
         .capturing = true,
         .stream = {{"stop", "hangs"}},
         .cause = Ending::Cause::endOfInput},
        {.name = "closed output while capturing", .capturing = true, .cause = Ending::Cause::closedOutput},
        // Nothing is written while paused; the write of the resumed pass finds
        // the output closed.
        {.name = "closed output while paused, met at resume",
         .capturing = true,
         .paused = true,
         .cause = Ending::Cause::closedOutputThenResume},
        {.name = "parent lost while paused", .paused = true, .cause = Ending::Cause::parentLoss},
        {.name = "parent lost while capturing", .capturing = true, .cause = Ending::Cause::parentLoss},
    };
    // One at a time: an intermediate process forked while another row's pipes
    // are open would hold them, and that row's end of output would wait for it.
    for (const Ending& row : rows) {
        SCOPED_TRACE(row.name);
        Json scene = desktop();
        scene["stream"] = row.stream;
        ChildProcess process = startSampler(row.name, scene, row.cause == Ending::Cause::parentLoss);
        ASSERT_TRUE(process.readLine());
        if (row.capturing) {
            process.write("capture-select\n");
            ASSERT_TRUE(awaitSnapshot(
                process, "streaming", [](const Json& s) { return state(s) == "ready"; }, 3s));
        }
        if (row.paused) {
            process.write("pause\n");
            drain(process);
        }
        switch (row.cause) {
            case Ending::Cause::endOfInput:
                process.closeInput();
                EXPECT_TRUE(process.awaitOutputEnd(3s * kBuildSlowdown)) << "still running at end of input";
                break;
            case Ending::Cause::closedOutput:
                process.closeOutput();
                break;
            case Ending::Cause::closedOutputThenResume:
                process.closeOutput();
                process.write("resume\n");
                break;
            case Ending::Cause::parentLoss:
                process.awaitOrphaned();
                // The test still holds the pipes: only the sampler's own exit
                // ends its output.
                EXPECT_TRUE(process.awaitOutputEnd(3s * kBuildSlowdown)) << "still running without its parent";
                break;
        }
        EXPECT_EQ(process.wait(3s * kBuildSlowdown), 0);
    }
}

}  // namespace
}  // namespace scene::testing
