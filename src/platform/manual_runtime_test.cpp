#include "platform/manual_runtime.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace scene {
namespace {

using ::testing::DoubleNear;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Records "label@uptime" for every task that runs, so a test reads the order
// and the virtual time of each in one list.
struct Journal {
    explicit Journal(ManualRuntime& runtime) : runtime(runtime) {}

    ManualRuntime& runtime;
    std::vector<std::string> entries;

    Task note(std::string label) {
        return [this, label = std::move(label)] { entries.push_back(label + "@" + std::to_string(runtime.now())); };
    }
    static std::string at(const std::string& label, double uptime) { return label + "@" + std::to_string(uptime); }
};

TEST(ManualRuntimeTest, ClockStartsAwayFromZeroAndTakesSettings) {
    ManualRuntime runtime;
    EXPECT_EQ(runtime.now(), 1000.0);
    EXPECT_EQ(runtime.clock().uptime(), 1000.0);
    EXPECT_EQ(runtime.clock().wallSeconds(), 1.8e9 + 1000.0);

    runtime.setWallBase(100);
    runtime.setThreadCPUSeconds(2);
    runtime.addThreadCPUSeconds(0.5);
    runtime.advance(3);
    EXPECT_EQ(runtime.clock().wallSeconds(), 1103.0);
    EXPECT_EQ(runtime.clock().threadCPUSeconds(), 2.5);

    EXPECT_EQ(ManualRuntime(5).now(), 5.0);
}

TEST(ManualRuntimeTest, TasksDueTogetherRunInPostingOrderAcrossQueues) {
    ManualRuntime runtime;
    Journal journal(runtime);
    auto first = runtime.makeSerialQueue("first");
    auto second = runtime.makeSerialQueue("second");

    second->postAfter(1, journal.note("second+1"));
    runtime.mainQueue().post(journal.note("main"));
    first->postAfter(1, journal.note("first+1"));
    second->post(journal.note("second"));
    runtime.mainQueue().postAfter(0.5, journal.note("main+0.5"));
    first->post(journal.note("first"));

    runtime.advance(1);
    EXPECT_THAT(journal.entries, ElementsAre(Journal::at("main", 1000), Journal::at("second", 1000),
                                             Journal::at("first", 1000), Journal::at("main+0.5", 1000.5),
                                             Journal::at("second+1", 1001), Journal::at("first+1", 1001)));
}

TEST(ManualRuntimeTest, RunUntilIdleRunsWhatIsDueIncludingFollowUpsButNeverMovesTime) {
    ManualRuntime runtime;
    Journal journal(runtime);
    auto worker = runtime.makeSerialQueue("worker");
    runtime.mainQueue().post([&] {
        journal.note("hop")();
        worker->post([&] { runtime.mainQueue().post(journal.note("back")); });
        runtime.mainQueue().postAfter(0.5, journal.note("later"));
    });

    runtime.runUntilIdle();
    EXPECT_THAT(journal.entries, ElementsAre(Journal::at("hop", 1000), Journal::at("back", 1000)));
    EXPECT_EQ(runtime.now(), 1000.0);
    EXPECT_EQ(runtime.pendingTaskCount(), 1u);
    EXPECT_EQ(runtime.nextTaskTime(), 1000.5);
}

TEST(ManualRuntimeTest, AdvanceStepsThroughEachDueTimeAndEndsAtTheTarget) {
    ManualRuntime runtime;
    Journal journal(runtime);
    // A chain posted from inside the window must run inside it, each link at
    // its own time, and the task due exactly at the end runs too.
    runtime.mainQueue().postAfter(1, [&] {
        journal.note("a")();
        runtime.mainQueue().postAfter(1, [&] {
            journal.note("b")();
            runtime.mainQueue().postAfter(1, journal.note("c"));
        });
    });
    runtime.mainQueue().postAfter(3.5, journal.note("beyond"));

    runtime.advance(3);
    EXPECT_THAT(journal.entries, ElementsAre(Journal::at("a", 1001), Journal::at("b", 1002), Journal::at("c", 1003)));
    EXPECT_EQ(runtime.now(), 1003.0);

    runtime.advance(-10);  // time never runs backwards
    EXPECT_EQ(runtime.now(), 1003.0);
    runtime.advanceTo(1010);
    EXPECT_EQ(journal.entries.back(), Journal::at("beyond", 1003.5));
    EXPECT_EQ(runtime.now(), 1010.0);
    EXPECT_EQ(runtime.pendingTaskCount(), 0u);
}

TEST(ManualRuntimeTest, NonPositiveOrUndefinedDelaysMeanNow) {
    ManualRuntime runtime;
    Journal journal(runtime);
    runtime.mainQueue().postAfter(-1, journal.note("negative"));
    runtime.mainQueue().postAfter(std::nan(""), journal.note("nan"));
    runtime.streams().feedAt(10, "x");  // keeps a later task around
    runtime.runUntilIdle();
    EXPECT_THAT(journal.entries, ElementsAre(Journal::at("negative", 1000), Journal::at("nan", 1000)));
}

TEST(ManualRuntimeTest, DestroyedSerialQueueDropsItsPendingTasks) {
    ManualRuntime runtime;
    auto alive = std::make_shared<int>(0);
    bool ran = false;
    auto worker = runtime.makeSerialQueue("worker");
    worker->post([alive, &ran] { ran = true; });
    worker->postAfter(5, [alive, &ran] { ran = true; });
    runtime.mainQueue().postAfter(5, [] {});

    worker.reset();
    EXPECT_EQ(alive.use_count(), 1);  // the captures are released, not leaked
    EXPECT_EQ(runtime.pendingTaskCount(), 1u);
    runtime.advance(10);
    EXPECT_FALSE(ran);
}

TEST(ManualRuntimeTest, QueuesAndTimersOutlivingTheRuntimeDropWhatTheyGet) {
    std::unique_ptr<Queue> worker;
    std::unique_ptr<RepeatingTimer> timer;
    {
        ManualRuntime runtime;
        worker = runtime.makeSerialQueue("worker");
        timer = runtime.makeTimer([] {});
        timer->schedule(1, 1, 0);
        worker->postAfter(1, [] {});
    }
    worker->post([] {});
    timer->schedule(0, 1, 0);
    timer->cancel();
}

TEST(ManualRuntimeTest, TimerTicksOnAFixedGridAndANewScheduleReplacesTheOld) {
    ManualRuntime runtime;
    std::vector<double> ticks;
    auto timer = runtime.makeTimer([&] { ticks.push_back(runtime.now() - 1000); });

    timer->schedule(0, 0.25, 0.003);
    runtime.advance(0.6);
    EXPECT_THAT(ticks, ElementsAre(0.0, 0.25, 0.5));

    ticks.clear();
    timer->schedule(1, 2, 0);  // at 1000.6: the tick due at 1000.75 must not come
    runtime.advance(4);
    EXPECT_THAT(ticks, ElementsAre(DoubleNear(1.6, 1e-9), DoubleNear(3.6, 1e-9)));

    ticks.clear();
    timer->cancel();
    runtime.advance(10);
    EXPECT_THAT(ticks, IsEmpty());
    EXPECT_EQ(runtime.pendingTaskCount(), 0u);
}

TEST(ManualRuntimeTest, TimerHandlerMayRescheduleCancelOrDestroyItsTimer) {
    ManualRuntime runtime;

    // Reschedules itself to a slower rate on its second tick.
    int rescheduled = 0;
    std::unique_ptr<RepeatingTimer> slowing;
    slowing = runtime.makeTimer([&] {
        if (++rescheduled == 2) slowing->schedule(1, 1, 0);
    });
    slowing->schedule(0, 0.1, 0);

    int cancelled = 0;
    std::unique_ptr<RepeatingTimer> stopping;
    stopping = runtime.makeTimer([&] {
        if (++cancelled == 3) stopping->cancel();
    });
    stopping->schedule(0, 0.1, 0);

    int destroyed = 0;
    std::unique_ptr<RepeatingTimer> vanishing;
    vanishing = runtime.makeTimer([&] {
        ++destroyed;
        vanishing.reset();
    });
    vanishing->schedule(0, 0.1, 0);

    int once = 0;
    auto oneShot = runtime.makeTimer([&] { ++once; });
    oneShot->schedule(0.5, 0, 0);

    runtime.advance(2.05);
    // 0, 0.1, then the new schedule from 0.1: 1.1, 2.1 (beyond the window).
    EXPECT_EQ(rescheduled, 3);
    EXPECT_EQ(cancelled, 3);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(once, 1);
}

TEST(ManualRuntimeTest, ExitStopsEverythingAndTheFirstStatusWins) {
    ManualRuntime runtime;
    int ticks = 0;
    auto timer = runtime.makeTimer([&] { ++ticks; });
    timer->schedule(0, 1, 0);
    bool after = false;
    runtime.mainQueue().post([&] {
        runtime.requestExit(3);
        runtime.requestExit(4);
    });
    runtime.mainQueue().post([&] { after = true; });

    EXPECT_FALSE(runtime.exitStatus());
    runtime.advance(5);
    EXPECT_TRUE(runtime.exitRequested());
    EXPECT_EQ(runtime.exitStatus(), 3);
    EXPECT_FALSE(after);
    EXPECT_EQ(ticks, 1);  // the tick at 1000 was posted before the exit task
    EXPECT_EQ(runtime.run(), 3);
}

TEST(ManualRuntimeTest, RunEndsAtTheExitOrReturnsMinusOneAtTheLimit) {
    {
        ManualRuntime runtime;
        runtime.mainQueue().postAfter(42, [&] { runtime.requestExit(0); });
        EXPECT_EQ(runtime.run(), 0);
        EXPECT_EQ(runtime.now(), 1042.0);
    }
    {
        ManualRuntime runtime;
        runtime.setRunLimit(10);
        auto timer = runtime.makeTimer([] {});
        timer->schedule(0, 1, 0);
        runtime.mainQueue().postAfter(11, [&] { runtime.requestExit(0); });
        EXPECT_EQ(runtime.run(), -1);
        EXPECT_EQ(runtime.now(), 1010.0);
        EXPECT_FALSE(runtime.exitRequested());
    }
}

TEST(ManualRuntimeTest, InputFedBeforeReadingStartsIsHeldAndDeliveredInOrder) {
    ManualRuntime runtime;
    ManualStreams& streams = runtime.streams();
    std::vector<std::string> chunks;
    streams.feed("a");
    streams.feed("");  // not a chunk a reader could see
    streams.feed("b");
    streams.endInput();
    streams.feed("ignored after the end");
    EXPECT_FALSE(streams.reading());

    runtime.standardStreams().startReading([&](std::string_view chunk) { chunks.emplace_back(chunk); });
    EXPECT_THAT(chunks, ElementsAre("a", "b", ""));
    streams.endInput();
    EXPECT_EQ(chunks.size(), 3u);
}

// The shape of a process entry: the reader forwards text to the main queue,
// where lines are answered and "quit" or the end of input ends the process.
TEST(ManualRuntimeTest, ScriptedInputDrivesAWholeRun) {
    struct Case {
        const char* name;
        bool quit;
        int expectedStatus;
        double expectedEnd;
    };
    for (const Case& c : {Case{"quit", true, 7, 1002.0}, Case{"end of input", false, 0, 1003.0}}) {
        SCOPED_TRACE(c.name);
        ManualRuntime runtime;
        StandardStreams& io = runtime.standardStreams();
        std::string buffer;
        io.startReading([&](std::string_view chunk) {
            if (chunk.empty()) {
                runtime.mainQueue().post([&] { runtime.requestExit(0); });
                return;
            }
            runtime.mainQueue().post([&, text = std::string(chunk)] {
                buffer += text;
                for (std::size_t end; (end = buffer.find('\n')) != std::string::npos; buffer.erase(0, end + 1)) {
                    const std::string line = buffer.substr(0, end);
                    if (line == "quit") runtime.requestExit(7);
                    io.writeLine("echo " + line + " @" + std::to_string(runtime.now()));
                }
            });
        });
        runtime.streams().feedAt(1001, "hel");
        runtime.streams().feedAt(1001.5, "lo\nthere\n");
        if (c.quit) runtime.streams().feedAt(1002, "quit\n");
        runtime.streams().feedAt(1002, "");
        runtime.streams().endInputAt(1003);
        runtime.streams().feedAt(1004, "never\n");

        EXPECT_EQ(runtime.run(), c.expectedStatus);
        EXPECT_EQ(runtime.now(), c.expectedEnd);
        std::vector<std::string> expected = {"echo hello @" + std::to_string(1001.5),
                                             "echo there @" + std::to_string(1001.5)};
        if (c.quit) expected.push_back("echo quit @" + std::to_string(1002.0));
        EXPECT_EQ(runtime.streams().takeLines(), expected);
        EXPECT_THAT(runtime.streams().lines(), IsEmpty());
    }
}

TEST(ManualRuntimeTest, ClosedOutputRefusesLines) {
    ManualRuntime runtime;
    StandardStreams& io = runtime.standardStreams();
    EXPECT_TRUE(io.writeLine("one"));
    runtime.streams().closeOutput();
    EXPECT_FALSE(io.writeLine("two"));
    EXPECT_FALSE(io.writeLine("three"));
    EXPECT_THAT(runtime.streams().lines(), ElementsAre("one"));
}

}  // namespace
}  // namespace scene
