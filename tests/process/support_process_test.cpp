// Supports confirmed in the selected display's frames, seen from outside.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "child_process.h"

namespace scene::testing {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

// The next snapshot line satisfying `wanted`, read for at most `timeout`.
std::optional<Json> snapshotWhere(ChildProcess& process, const std::function<bool(const Json&)>& wanted,
                                  std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto line = process.readLine(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
        if (!line) break;
        Json snapshot = Json::parse(*line);
        if (!snapshot.contains("kind") && wanted(snapshot)) return snapshot;
    }
    return std::nullopt;
}

// The sketch pad moves every half second and needs two agreeing frames while
// it stands still: a sanitizer build, several times slower, may miss a few
// such chances.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::chrono::milliseconds kConfirmationDeadline{5000};
#else
constexpr std::chrono::milliseconds kConfirmationDeadline{1500};
#endif

bool hasTopContour(const Json& snapshot, const std::string& owner) {
    for (const Json& support : snapshot["supportProofs"]) {
        if (support["ownerId"] == owner && support["side"] == "top" && support["source"] == "selected-contour")
            return true;
    }
    return false;
}

bool hasProofFor(const Json& snapshot, const std::string& owner) {
    for (const Json& support : snapshot["supportProofs"])
        if (support["ownerId"] == owner) return true;
    return false;
}

bool hasWindow(const Json& snapshot, const std::string& id) {
    for (const Json& window : snapshot["windows"])
        if (window["id"] == id) return true;
    return false;
}

TEST(SupportProcess, DemoWindowTopsAndTheDockShelfAreConfirmed) {
    ChildProcess process({{"--platform", "simulated", "--allow-screen-capture"}, {}, false});
    ASSERT_TRUE(process.readLine());
    process.write("capture-select\n");
    // Writer and the console in full, the sketch pad beside the writer, and the shelf.
    const std::vector<std::string> owners{"412:8731", "518:9002", "630:9100", "dock:1"};
    const auto confirmed = snapshotWhere(
        process,
        [&](const Json& s) {
            return std::all_of(owners.begin(), owners.end(), [&](const auto& o) { return hasTopContour(s, o); });
        },
        kConfirmationDeadline);
    ASSERT_TRUE(confirmed);
    EXPECT_EQ((*confirmed)["supportVerification"], "ready");
    const Json& metrics = (*confirmed)["supportMetrics"];
    EXPECT_GE(metrics["selectedContourOwners"], 3);
    EXPECT_GT(metrics["selectedContourPixels"], 0);
    EXPECT_GT(metrics["selectedContourRegions"], 0);
    for (const Json& support : (*confirmed)["supportProofs"]) {
        EXPECT_GE(support["to"].get<double>() - support["from"].get<double>(), 48.0) << support;
        EXPECT_TRUE(support.contains("ageMS") && !support.contains("uptime")) << support;
    }
    process.write("quit\n");
    EXPECT_EQ(process.wait(), 0);
}

TEST(SupportProcess, CoveredAndClosedWindowsHaveNoSupports) {
    const std::string scene = writeTempFile("covered.json", R"({
      "format": 1,
      "displays": [{"id": 1, "bounds": [0, 0, 1440, 900]}],
      "applications": [{"pid": 300, "bundleId": "com.example.front"}, {"pid": 301, "bundleId": "com.example.back"}],
      "frontmost": 300,
      "windows": [
        {"pid": 300, "number": 1, "bounds": [100, 100, 600, 400], "titleBar": 28},
        {"pid": 301, "number": 2, "bounds": [150, 150, 400, 200], "titleBar": 28},
        {"pid": 301, "number": 3, "bounds": [800, 200, 400, 300], "titleBar": 28}
      ],
      "timeline": [{"at": 2.5, "do": "remove-window", "window": "301:3"}]
    })");
    ChildProcess process({{"--scene", scene, "--allow-screen-capture"}, {}, false});
    ASSERT_TRUE(process.readLine());
    process.write("capture-select\n");
    const auto confirmed = snapshotWhere(
        process, [](const Json& s) { return hasTopContour(s, "300:1") && hasTopContour(s, "301:3"); }, 1500ms);
    ASSERT_TRUE(confirmed);
    EXPECT_FALSE(hasProofFor(*confirmed, "301:2")) << "its outline lies under the front window";

    const auto closed = snapshotWhere(
        process, [](const Json& s) { return !hasWindow(s, "301:3"); }, 3s);
    ASSERT_TRUE(closed);
    for (const std::string& line : process.readLinesFor(700ms)) {
        const Json snapshot = Json::parse(line);
        EXPECT_FALSE(hasProofFor(snapshot, "301:3"));
        EXPECT_FALSE(hasProofFor(snapshot, "301:2"));
    }
    EXPECT_FALSE(hasProofFor(*closed, "301:3"));
    EXPECT_TRUE(hasProofFor(*closed, "300:1"));
    process.write("quit\n");
    EXPECT_EQ(process.wait(), 0);
}

}  // namespace
}  // namespace scene::testing
