#include "platform/asio_runtime.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace scene {
namespace {

using ::testing::ElementsAre;

// Generous: these only bound how long a broken runtime can hang a test.
constexpr auto kPatience = std::chrono::seconds(10);
constexpr double kPatienceSeconds = 10;
constexpr int kTimedOut = -99;

// Runs the main loop with a fail-safe exit, so a runtime that never stops
// fails the test instead of hanging it.
int runGuarded(AsioRuntime& runtime) {
    runtime.mainQueue().postAfter(kPatienceSeconds, [&] { runtime.requestExit(kTimedOut); });
    return runtime.run();
}

template <typename T>
bool ready(std::future<T>& future) {
    return future.wait_for(kPatience) == std::future_status::ready;
}

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
        closeRead();
        closeWrite();
    }
    void closeRead() { closeEnd(readEnd); }
    void closeWrite() { closeEnd(writeEnd); }
    static void closeEnd(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

TEST(AsioRuntimeTest, ClockReadsTheSystemClocks) {
    AsioRuntime runtime;
    Clock& clock = runtime.clock();
    const double steady =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(clock.uptime(), steady, 1.0);
    EXPECT_NEAR(clock.wallSeconds(), static_cast<double>(std::time(nullptr)), 2.0);
    const double earlier = clock.uptime();
    EXPECT_LE(earlier, clock.uptime());

    // This thread's CPU time grows only while this thread works.
    const double cpu = clock.threadCPUSeconds();
    volatile std::uint64_t spin = 0;
    for (std::uint64_t i = 0; i < 2'000'000'000 && clock.threadCPUSeconds() == cpu; ++i) spin = spin + i;
    EXPECT_GT(clock.threadCPUSeconds(), cpu);
}

TEST(AsioRuntimeTest, SerialQueueRunsTasksInOrderOnOneThreadOfItsOwn) {
    AsioRuntime runtime;
    auto queue = runtime.makeSerialQueue("serial-queue-test-with-a-long-label");
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::promise<void> done;
    auto finished = done.get_future();
    // A zero delay keeps its place among plain posts.
    queue->postAfter(0, [&] { order.push_back(-1); });
    for (int i = 0; i < 100; ++i) {
        queue->post([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
            if (i == 99) done.set_value();
        });
    }
    ASSERT_TRUE(ready(finished));
    ASSERT_EQ(order.size(), 101u);
    EXPECT_EQ(order.front(), -1);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<size_t>(i) + 1], i);
    for (const auto& id : threads) EXPECT_EQ(id, threads.front());
    EXPECT_NE(threads.front(), std::this_thread::get_id());
}

TEST(AsioRuntimeTest, PostAfterRunsNoEarlierThanItsDelayAndAfterLaterPlainPosts) {
    AsioRuntime runtime;
    auto queue = runtime.makeSerialQueue("delays");
    Clock& clock = runtime.clock();
    std::vector<std::string> order;
    std::promise<double> fired;
    auto firedAt = fired.get_future();
    const double start = clock.uptime();
    queue->postAfter(0.05, [&] {
        order.push_back("delayed");
        fired.set_value(clock.uptime());
    });
    queue->post([&] { order.push_back("plain"); });
    ASSERT_TRUE(ready(firedAt));
    EXPECT_GE(firedAt.get() - start, 0.05);
    EXPECT_THAT(order, ElementsAre("plain", "delayed"));
}

TEST(AsioRuntimeTest, DestroyingASerialQueueJoinsItAndDropsPendingTasks) {
    AsioRuntime runtime;
    auto alive = std::make_shared<int>(0);
    std::atomic<bool> ran{false};
    auto queue = runtime.makeSerialQueue("doomed");
    queue->postAfter(3600, [alive, &ran] { ran = true; });
    std::promise<void> started;
    auto running = started.get_future();
    queue->post([&] { started.set_value(); });
    ASSERT_TRUE(ready(running));
    queue.reset();
    EXPECT_FALSE(ran);
    EXPECT_EQ(alive.use_count(), 1);
}

TEST(AsioRuntimeTest, MainQueueRunsOnTheThreadThatCallsRunUntilAnExitFromAnyThread) {
    AsioRuntime runtime;
    std::thread::id mainThread;
    std::thread other([&] {
        runtime.mainQueue().post([&] { mainThread = std::this_thread::get_id(); });
        runtime.mainQueue().postAfter(0.01, [&] {
            std::thread([&] {
                runtime.requestExit(5);
                runtime.requestExit(6);
            }).join();
        });
    });
    EXPECT_EQ(runGuarded(runtime), 5);
    other.join();
    EXPECT_TRUE(runtime.exitRequested());
    EXPECT_EQ(mainThread, std::this_thread::get_id());
}

TEST(AsioRuntimeTest, ExitRequestedBeforeRunEndsRunAtOnce) {
    AsioRuntime runtime;
    EXPECT_FALSE(runtime.exitRequested());
    runtime.requestExit(64);
    EXPECT_EQ(runGuarded(runtime), 64);
}

TEST(AsioRuntimeTest, TimerTicksReplacesItsScheduleAndStopsWhenCancelled) {
    AsioRuntime runtime;
    Clock& clock = runtime.clock();
    constexpr double kInterval = 0.005;
    std::vector<double> ticks;
    std::unique_ptr<RepeatingTimer> timer;
    timer = runtime.makeTimer([&] {
        ticks.push_back(clock.uptime());
        if (ticks.size() == 3) {
            timer->cancel();
            runtime.mainQueue().postAfter(0.05, [&] { runtime.requestExit(0); });
        }
    });
    timer->schedule(3600, 3600, 0);  // must be replaced, not kept alongside
    const double start = clock.uptime();
    timer->schedule(0, kInterval, 0.003);

    EXPECT_EQ(runGuarded(runtime), 0);
    ASSERT_EQ(ticks.size(), 3u);
    EXPECT_GE(ticks[1], start + kInterval);
    EXPECT_GE(ticks[2], start + 2 * kInterval);
}

TEST(AsioRuntimeTest, LateTickResumesOnTheGridWithoutABurst) {
    AsioRuntime runtime;
    Clock& clock = runtime.clock();
    constexpr double kInterval = 0.01;
    std::vector<double> ticks;
    double start = 0;
    auto timer = runtime.makeTimer([&] {
        ticks.push_back(clock.uptime());
        // A slow first tick overruns five and a half intervals.
        if (ticks.size() == 1) {
            while (clock.uptime() < start + 5.5 * kInterval) {
            }
        }
        if (ticks.size() == 2) runtime.requestExit(0);
    });
    start = clock.uptime();
    timer->schedule(0, kInterval, 0);

    EXPECT_EQ(runGuarded(runtime), 0);
    ASSERT_EQ(ticks.size(), 2u);
    EXPECT_GE(ticks[1], start + 6 * kInterval);
}

TEST(AsioRuntimeTest, DestroyedTimersNeverCallTheirHandlers) {
    AsioRuntime runtime;
    int dropped = 0;
    auto timer = runtime.makeTimer([&] { ++dropped; });
    timer->schedule(0, 0.001, 0);
    timer.reset();

    int selfDestroyed = 0;
    std::unique_ptr<RepeatingTimer> vanishing;
    vanishing = runtime.makeTimer([&] {
        ++selfDestroyed;
        vanishing.reset();
    });
    vanishing->schedule(0, 0.001, 0);

    int once = 0;
    auto oneShot = runtime.makeTimer([&] { ++once; });
    oneShot->schedule(0, 0, 0);

    runtime.mainQueue().postAfter(0.05, [&] { runtime.requestExit(0); });
    EXPECT_EQ(runGuarded(runtime), 0);
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(selfDestroyed, 1);
    EXPECT_EQ(once, 1);
}

TEST(AsioRuntimeTest, WriteLineWritesWholeLinesAndFailsForGoodOnceTheReaderIsGone) {
    Pipe out;
    AsioRuntime runtime(-1, out.writeEnd);
    StandardStreams& io = runtime.standardStreams();

    // Bigger than a pipe's buffer, so the write must loop over partial writes.
    const std::string big(300'000, 'x');
    auto reader = std::async(std::launch::async, [&] {
        std::string text;
        char buffer[4096];
        while (text.size() < big.size() + 8) {
            const ssize_t n = ::read(out.readEnd, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<size_t>(n));
        }
        return text;
    });
    EXPECT_TRUE(io.writeLine("first"));
    EXPECT_TRUE(io.writeLine(""));
    EXPECT_TRUE(io.writeLine(big));
    const bool done = ready(reader);
    if (!done) out.closeWrite();  // lets the reader end, so the test fails instead of hanging
    ASSERT_TRUE(done);
    EXPECT_EQ(reader.get(), "first\n\n" + big + "\n");

    out.closeRead();
    EXPECT_FALSE(io.writeLine("nobody listens"));  // EPIPE, not a signal
    EXPECT_FALSE(io.writeLine("still nobody"));
}

TEST(AsioRuntimeTest, AWriteThatWaitsForRoomGivesUpOnceTheProcessIsEnding) {
    // Nobody reads: a line longer than the pipe waits for room half-way.
    enum class Ending { exitRequested, checkSaysStop };
    for (const Ending ending : {Ending::exitRequested, Ending::checkSaysStop}) {
        Pipe out;
        ASSERT_GT(::fcntl(out.writeEnd, F_SETPIPE_SZ, 4096), 0);
        AsioRuntime runtime(-1, out.writeEnd);
        StandardStreams& io = runtime.standardStreams();
        std::atomic<bool> keepWaiting{true};
        io.setWriteWaitCheck([&] { return keepWaiting.load(); });
        auto written = std::async(std::launch::async, [&] { return io.writeLine(std::string(100'000, 'x')); });
        if (ending == Ending::exitRequested) runtime.requestExit(0);
        if (ending == Ending::checkSaysStop) keepWaiting = false;
        ASSERT_TRUE(ready(written));
        EXPECT_FALSE(written.get());
        // Nothing may follow a line given up half-way.
        EXPECT_FALSE(io.writeLine("after"));
    }
}

TEST(AsioRuntimeTest, ReaderDeliversChunksThenOneEmptyChunkAtEndOfInput) {
    Pipe in;
    std::mutex mutex;
    std::string text;
    int ends = 0;
    std::thread::id readerThread;
    std::promise<void> ended;
    auto end = ended.get_future();
    {
        AsioRuntime runtime(in.readEnd, -1);
        runtime.standardStreams().startReading([&](std::string_view chunk) {
            const std::lock_guard lock(mutex);
            readerThread = std::this_thread::get_id();
            text.append(chunk);
            if (chunk.empty() && ++ends == 1) ended.set_value();
        });
        ASSERT_EQ(::write(in.writeEnd, "pause\n", 6), 6);
        ASSERT_EQ(::write(in.writeEnd, "res", 3), 3);
        ASSERT_EQ(::write(in.writeEnd, "ume\n", 4), 4);
        in.closeWrite();
        ASSERT_TRUE(ready(end));
    }
    const std::lock_guard lock(mutex);
    EXPECT_EQ(text, "pause\nresume\n");
    EXPECT_EQ(ends, 1);
    EXPECT_NE(readerThread, std::this_thread::get_id());
}

TEST(AsioRuntimeTest, DestructionStopsAReaderWaitingOnOpenInput) {
    Pipe in;
    std::atomic<int> chunks{0};
    std::promise<void> first;
    auto gotFirst = first.get_future();
    {
        AsioRuntime runtime(in.readEnd, -1);
        runtime.standardStreams().startReading([&](std::string_view) {
            if (++chunks == 1) first.set_value();
        });
        ASSERT_EQ(::write(in.writeEnd, "x", 1), 1);
        ASSERT_TRUE(ready(gotFirst));
    }
    // Shutting down is not the end of input: no empty chunk follows.
    EXPECT_EQ(chunks, 1);
}

}  // namespace
}  // namespace scene
