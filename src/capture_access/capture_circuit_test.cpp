#include "capture_access/capture_circuit.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <utility>

#include <gtest/gtest.h>

namespace scene {
namespace {

class CaptureCircuitFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "capture-circuit-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }

    std::string write(const std::string& content) {
        const std::string path = (directory_ / "state").string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    std::filesystem::path directory_;
};

TEST_F(CaptureCircuitFileTest, FileContentDecidesTheReason) {
    struct Case {
        const char* name;
        std::string content;
        std::string reason;
    };
    const Case cases[] = {
        {"current writer", R"({"version":3,"reason":"permission","source":"native","screenCaptureKitCode":-3801})",
         "permission"},
        {"older version", R"({"version": 2, "reason": "timeout"})", "timeout"},
        {"first version", R"({"version":1,"reason":"configuration"})", "configuration"},
        {"failure", R"({"version":1,"reason":"failure"})", "failure"},
        {"future version", R"({"version": 4, "reason": "permission"})", "unknown"},
        {"version zero", R"({"version": 0, "reason": "permission"})", "unknown"},
        {"version as text", R"({"version": "3", "reason": "permission"})", "unknown"},
        {"fractional version", R"({"version": 2.5, "reason": "permission"})", "unknown"},
        {"unknown reason word", R"({"version": 3, "reason": "transient"})", "unknown"},
        {"reason not a string", R"({"version": 3, "reason": 1})", "unknown"},
        {"no reason", R"({"version": 3})", "unknown"},
        {"array", R"([{"version": 3, "reason": "permission"}])", "unknown"},
        {"not json", "paused", "unknown"},
        {"empty file", "", "unknown"},
        {"legacy word", "capture-paused", "legacy"},
        {"legacy word padded", "  capture-paused\n", "legacy"},
        {"legacy word padded with no-break space", "\xC2\xA0" "capture-paused\r\n", "legacy"},
        {"legacy word with suffix", "capture-paused!", "unknown"},
        {"binary", std::string("\x00\xFF\xFE" "capture-paused\x00", 18), "unknown"},
        // A valid record buried in more than 64 KiB is not read at all.
        {"huge", R"({"version":2,"reason":"timeout","pad":")" + std::string(70000, 'x') + "\"}", "unknown"},
        {"just under the limit", R"({"version":2,"reason":"timeout","pad":")" + std::string(60000, 'x') + "\"}",
         "timeout"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CaptureCircuit circuit(write(c.content));
        EXPECT_TRUE(circuit.blocked);
        EXPECT_EQ(circuit.reason, c.reason);
    }
}

TEST_F(CaptureCircuitFileTest, MissingFileLeavesCaptureFree) {
    const std::string path = (directory_ / "absent").string();
    const CaptureCircuit circuit(path);
    EXPECT_FALSE(circuit.blocked);
    EXPECT_EQ(circuit.reason, std::nullopt);
    EXPECT_EQ(circuit.stateURL, path);
}

TEST_F(CaptureCircuitFileTest, WhatIsNotARegularFileIsNeverReadAndSuspendsAsUnknown) {
    // A pipe nobody writes to would hold start-up for ever if it were opened
    // for reading the ordinary way; links are followed to what they name.
    const std::string pipe = (directory_ / "pipe").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string legacy = write("capture-paused");
    const auto link = [&](const std::string& name, const std::string& target) {
        const std::string path = (directory_ / name).string();
        std::filesystem::create_symlink(target, path);
        return path;
    };
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {directory_.string(), "unknown"},    {pipe, "unknown"},
        {link("to-pipe", pipe), "unknown"},  {"/dev/zero", "unknown"},
        {link("to-file", legacy), "legacy"}, {link("dangling", (directory_ / "absent").string()), std::nullopt},
    };
    for (const auto& [path, reason] : cases) {
        const CaptureCircuit circuit(path);
        EXPECT_EQ(circuit.blocked, reason.has_value()) << path;
        EXPECT_EQ(circuit.reason, reason) << path;
    }
}

TEST(CaptureCircuitTest, NoPathMeansNoSuspension) {
    const CaptureCircuit circuit(std::nullopt);
    EXPECT_FALSE(circuit.blocked);
    EXPECT_EQ(circuit.reason, std::nullopt);
    EXPECT_EQ(circuit.stateURL, std::nullopt);
}

TEST(CaptureCircuitTest, PathPrecedence) {
    const Environment withVariable{{"VANTU_CAPTURE_STATE_PATH", "/env/state"}};
    struct Case {
        const char* name;
        Arguments arguments;
        Environment environment;
        std::optional<std::string> path;
    };
    const Case cases[] = {
        {"argument wins", {"sampler", "--capture-state", "/arg/state"}, withVariable, "/arg/state"},
        {"first occurrence wins", {"sampler", "--capture-state", "/a", "--capture-state", "/b"}, {}, "/a"},
        {"path taken verbatim", {"sampler", "--capture-state", "--once"}, withVariable, "--once"},
        {"trailing option stops the search", {"sampler", "--capture-state"}, withVariable, std::nullopt},
        {"trailing option ignores later sources", {"sampler", "12", "--capture-state"}, withVariable, std::nullopt},
        {"environment", {"sampler", "--once"}, withVariable, "/env/state"},
        {"nothing configured", {"sampler"}, {}, std::nullopt},
        {"program path is not an option", {"--capture-state", "/x"}, {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CaptureCircuit::resolvePath(c.arguments, c.environment), c.path);
    }
}

}  // namespace
}  // namespace scene
