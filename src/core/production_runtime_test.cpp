// The whole process in-process on the production runtime: the main queue on
// this thread, every sampler's queue and the capture session's output queue on
// threads of their own, commands through the real standard-input reader. The
// demo desktop with capture selected keeps all of them busy at once, which is
// what the thread sanitizer build is here to watch. Every wait ends on an
// event (a line, the end of output) or at a generous deadline; nothing sleeps.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/entry.h"
#include "platform/asio_runtime.h"
#include "platform/records.h"
#include "platform/simulated/demo_scene.h"
#include "platform/simulated/scene_loader.h"

namespace scene {
namespace {

using SteadyClock = std::chrono::steady_clock;

// These only bound how long a broken run can hang the test; a working one
// takes about a second.
constexpr auto kPatience = std::chrono::seconds(10);
constexpr double kPatienceSeconds = 20;
constexpr int kTimedOut = -99;

// Both ends of a pipe, closed on destruction unless closed earlier.
struct Pipe {
    int readEnd = -1;
    int writeEnd = -1;

    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            readEnd = fds[0];
            writeEnd = fds[1];
        }
    }
    ~Pipe() {
        closeEnd(readEnd);
        closeEnd(writeEnd);
    }
    static void closeEnd(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

// The demo desktop, with a picker that answers at once. Its stream keeps the
// scene's low rate: rendering and copying full frames faster would only starve
// the other tests of a shared machine.
std::string demoSceneWithQuickPicker() {
    Json scene = Json::parse(simulated::demoSceneText());
    scene["picker"] = {{"action", "select"}, {"display", 1}, {"after", 0.02}};
    return scene.dump();
}

// The companion's side of the pipes, run on a thread of its own: reads the
// sampler's lines, answers with commands, and notes the first expectation that
// was not met in time.
class Companion {
public:
    Companion(int input, int output) : input_(input), output_(output), deadline_(SteadyClock::now() + kPatience) {}

    // Reads lines until one satisfies `wanted` and returns it; nothing at the
    // deadline or at the end of output, with `what` noted as the failure.
    std::optional<Json> await(const std::string& what, const std::function<bool(const Json&)>& wanted) {
        if (!failure.empty()) return std::nullopt;
        while (auto line = nextLine()) {
            Json parsed = Json::parse(*line, nullptr, false);
            lines.push_back(parsed);
            if (!parsed.is_discarded() && wanted(parsed)) return parsed;
        }
        failure = what;
        return std::nullopt;
    }

    void send(const std::string& text) {
        std::size_t written = 0;
        while (written < text.size()) {
            const ssize_t n = ::write(input_, text.data() + written, text.size() - written);
            if (n <= 0) return;
            written += static_cast<std::size_t>(n);
        }
    }

    // Keeps reading until the sampler's side of the output is closed, so a
    // sampler still writing before it takes "quit" never blocks on a full pipe.
    void drain() {
        while (nextLine(kPatience)) {
        }
    }

    std::vector<Json> lines;  // every line read, in order (discarded: not JSON)
    std::string failure;      // the first expectation not met

private:
    std::optional<std::string> nextLine(std::chrono::milliseconds patience = std::chrono::milliseconds(0)) {
        const auto deadline = patience.count() > 0 ? SteadyClock::now() + patience : deadline_;
        for (;;) {
            const std::size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
            pollfd ready{output_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
            char chunk[65536];
            const ssize_t n = ::read(output_, chunk, sizeof chunk);
            if (n <= 0) return std::nullopt;
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    const int input_;
    const int output_;
    const SteadyClock::time_point deadline_;
    std::string buffer_;
};

// Replies name their kind; snapshots have no such key.
bool isReply(const Json& line) { return line.contains("kind"); }

std::uint64_t framesOf(const Json& snapshot) {
    return snapshot.value(Json::json_pointer("/captureMetrics/frames"), std::uint64_t{0});
}

bool capturing(const Json& line) { return !isReply(line) && line.value("captureSession", "") == "ready"; }

// A list that is not empty, or a time that is set.
bool published(const Json& line, const std::string& key) {
    const auto found = line.find(key);
    if (isReply(line) || found == line.end()) return false;
    return found->is_array() ? !found->empty() : found->is_number() && found->get<double>() > 0;
}

class ProductionRuntimeTest : public ::testing::Test {
protected:
    // Runs the entry on this thread while `converse` plays the companion on
    // another; returns the entry's status once both are done.
    int run(const Arguments& arguments, const std::function<void(Companion&)>& converse) {
        int status = kTimedOut;
        std::future<void> companionDone;
        {
            AsioRuntime runtime{input.readEnd, output.writeEnd};
            auto loaded = simulated::loadScene(demoSceneWithQuickPicker(), "demo.json", runtime);
            if (!loaded.platform) {
                ADD_FAILURE() << loaded.error;
                return kTimedOut;
            }
            companionDone = std::async(std::launch::async, [&] {
                converse(companion);
                companion.drain();
            });
            // A sampler that never takes its "quit" fails the test instead of
            // hanging it.
            runtime.mainQueue().postAfter(kPatienceSeconds, [&runtime] { runtime.requestExit(kTimedOut); });
            status = runSceneSampler(arguments, Environment{}, *loaded.platform, runtime);
        }
        // The runtime wrote through a description of the pipe of its own; with
        // it gone and this one closed, the companion's drain ends.
        Pipe::closeEnd(output.writeEnd);
        companionDone.get();
        return status;
    }

    Pipe input;
    Pipe output;
    Companion companion{input.writeEnd, output.readEnd};
};

TEST_F(ProductionRuntimeTest, CaptureSamplersAndCommandsRunOnTheirOwnThreads) {
    std::optional<Json> still;
    std::optional<Json> last;
    const int status = run({"scene-sampler", "--allow-screen-capture", "--visual", "--controls"}, [&](Companion& c) {
        const auto stillOrQuit = [&] {
            if (!c.await("a first snapshot", [](const Json& l) { return !isReply(l); })) return;
            c.send("capture-select\n");
            if (!c.await("frames from the selected display",
                         [](const Json& l) { return capturing(l) && framesOf(l) >= 2; }))
                return;
            // Every sampler is reset while its queue may be at work.
            c.send("rate 40\ninputs-on\nvisual-off\nvisual-on\ncontrols-off\ncontrols-on\ncapture-snapshot 1\n");
            std::uint64_t frames = 0;
            still = c.await("the still", [&](const Json& l) {
                if (!isReply(l)) frames = framesOf(l);
                return isReply(l) && l["requestId"] == "1";
            });
            if (!still) return;
            // Pausing closes the intake's gate while buffers arrive; the pass
            // after "resume" opens it again.
            c.send("pause\nresume\n");
            if (!c.await("frames after resuming", [&](const Json& l) { return capturing(l) && framesOf(l) > frames; }))
                return;
            // Each sampler's result crosses back from its queue; the demo's
            // timeline keeps moving windows, so they need not coincide. A
            // visual analysis counts once it is back, published or not: under
            // a sanitizer it overruns its budget, and its edges are withheld.
            std::set<std::string> waiting{"supportProofs", "controls", "visualTimestamp"};
            last = c.await("supports, controls and a visual analysis", [&](const Json& l) {
                std::erase_if(waiting, [&](const std::string& key) { return published(l, key); });
                return waiting.empty();
            });
        };
        stillOrQuit();
        c.send("quit\n");
    });

    EXPECT_EQ(status, 0);
    EXPECT_EQ(companion.failure, "") << "last line: " << (companion.lines.empty() ? Json() : companion.lines.back());
    for (const Json& line : companion.lines) EXPECT_FALSE(line.is_discarded());
    ASSERT_TRUE(still);
    EXPECT_EQ((*still)["displayID"], 1);
    EXPECT_FALSE((*still)["image"].get<std::string>().empty());
    ASSERT_TRUE(last);
    EXPECT_EQ((*last)["captureMetrics"]["frameCopyFailures"], 0);
}

TEST_F(ProductionRuntimeTest, EndOfInputEndsTheRunFromTheReaderThread) {
    const int status = run({"scene-sampler", "--allow-screen-capture"}, [this](Companion& c) {
        if (c.await("a first snapshot", [](const Json& l) { return !isReply(l); })) c.send("capture-select\n");
        Pipe::closeEnd(input.writeEnd);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(companion.failure, "");
}

}  // namespace
}  // namespace scene
