// The selected display capture and the samplers fed by it, seen from outside:
// selection, frames, snapshot replies, visual edges, controls and the Dock.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <turbojpeg.h>

#include "child_process.h"

namespace scene::testing {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

std::vector<unsigned char> base64Decode(const std::string& text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<unsigned char> bytes;
    unsigned value = 0;
    int bits = 0;
    for (const char c : text) {
        if (c == '=') break;
        const auto index = alphabet.find(c);
        if (index == std::string::npos) return {};
        value = value << 6 | static_cast<unsigned>(index);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<unsigned char>(value >> bits & 0xff));
        }
    }
    return bytes;
}

// Reads lines until one satisfies `wanted`, for at most `timeout`.
std::optional<Json> lineWhere(ChildProcess& process, const std::function<bool(const Json&)>& wanted,
                              std::chrono::milliseconds timeout = 3s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto line = process.readLine(std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()));
        if (!line) break;
        Json parsed = Json::parse(*line);
        if (wanted(parsed)) return parsed;
    }
    return std::nullopt;
}

bool isReply(const Json& line) { return line.contains("kind"); }

// A sanitizer build runs the visual analysis several times slower than its
// CPU budget allows, and the sampler rightly withholds the edges it found:
// there, an analysis that came back (it sets the visual timestamp) is all
// that can be asked for.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kAnalysisWithinBudget = false;
#else
constexpr bool kAnalysisWithinBudget = true;
#endif

TEST(CaptureProcess, SelectionStreamsFramesAndAnswersSnapshots) {
    ChildProcess process({{"--platform", "simulated", "--allow-screen-capture", "--visual", "--controls"}, {}, false});
    ASSERT_TRUE(process.readLine());
    process.write("capture-select\n");
    const auto ready = lineWhere(process, [](const Json& s) { return !isReply(s) && s["captureSession"] == "ready"; });
    ASSERT_TRUE(ready);
    EXPECT_EQ((*ready)["captureConsentID"], 1);
    EXPECT_EQ((*ready)["captureSelectedDisplay"], 1);
    EXPECT_EQ((*ready)["captureAccess"], "ready");
    const auto frames = (*ready)["captureMetrics"]["frames"].get<std::uint64_t>();
    const auto later = lineWhere(process, [&](const Json& s) {
        return !isReply(s) && s["captureMetrics"]["frames"].get<std::uint64_t>() > frames;
    });
    EXPECT_TRUE(later);

    // Visual edges of the focused window's panels, once two analyses agree.
    const auto edges = lineWhere(process, [](const Json& s) {
        return !isReply(s) && (!s["visuals"].empty() || (!kAnalysisWithinBudget && s["visualTimestamp"] > 0.0));
    });
    ASSERT_TRUE(edges);
    if (!(*edges)["visuals"].empty()) {
        EXPECT_EQ((*edges)["vision"], "ready");
        const std::string window = (*edges)["context"]["focusedWindowId"];
        bool platform = false;
        for (const Json& edge : (*edges)["visuals"]) {
            EXPECT_EQ(edge["id"].get<std::string>().rfind("visual:" + window + ":v", 0), 0u) << edge["id"];
            platform |= edge["platform"].get<bool>();
        }
        EXPECT_TRUE(platform);
    }

    // Controls of the front window, and the Dock's shelf.
    const auto controls = lineWhere(process, [](const Json& s) { return !isReply(s) && !s["controls"].empty(); });
    ASSERT_TRUE(controls);
    EXPECT_EQ((*controls)["accessibility"], "ready");
    for (const Json& control : (*controls)["controls"])
        EXPECT_NE(control["id"].get<std::string>().find("/ax-"), std::string::npos) << control["id"];
    ASSERT_EQ((*controls)["docks"].size(), 1u);
    EXPECT_EQ((*controls)["docks"][0]["id"], "dock:1");
    EXPECT_EQ((*controls)["docks"][0]["side"], "bottom");
    EXPECT_EQ((*controls)["dockStatus"], "ready");

    // A still of the display, and silence for a malformed request id.
    process.write("capture-snapshot 12x\ncapture-snapshot 7\n");
    const auto reply = lineWhere(process, isReply);
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)["requestId"], "7");
    EXPECT_EQ((*reply)["displayID"], 1);
    const auto jpeg = base64Decode((*reply)["image"]);
    tjhandle decoder = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    EXPECT_EQ(tjDecompressHeader3(decoder, jpeg.data(), jpeg.size(), &width, &height, &subsampling, &colorspace), 0);
    tjDestroy(decoder);
    EXPECT_EQ(width, 1440);
    EXPECT_EQ(height, 900);
    EXPECT_FALSE(lineWhere(process, isReply, 500ms));

    process.write("quit\n");
    EXPECT_EQ(process.wait(), 0);
}

TEST(CaptureProcess, OlderSystemsAnswerSnapshotsWithUnsupported) {
    const std::string scene = writeTempFile("older.json", R"({"format": 1, "system": {"version": "14.3"}})");
    ChildProcess process({{"--scene", scene, "--allow-screen-capture"}, {}, false});
    process.write("capture-snapshot 9\n");
    const auto reply = lineWhere(process, isReply);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, (Json{{"kind", "capture-snapshot"}, {"requestId", "9"}, {"error", "unsupported-os"}}));
    process.write("quit\n");
    EXPECT_EQ(process.wait(), 0);
}

}  // namespace
}  // namespace scene::testing
