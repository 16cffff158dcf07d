#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime.h"

namespace scene {

class ManualScheduler;

// Scripted standard streams for the manual runtime: input is fed by the test,
// either at once or at virtual times through the scheduler, and output lines are
// collected. Owned by its ManualRuntime; used on the test's thread.
class ManualStreams final : public StandardStreams {
public:
    ManualStreams(const ManualStreams&) = delete;
    ManualStreams& operator=(const ManualStreams&) = delete;

    // Chunks that arrive before reading starts are held and handed over, in
    // order, from inside `startReading`. Only the first call counts.
    void startReading(std::function<void(std::string_view chunk)> onChunk) override;
    bool writeLine(std::string_view line) override;
    // Lines are collected at once and never wait, so there is nothing to ask.
    void setWriteWaitCheck(std::function<bool()>) override {}

    // Delivers `bytes` now, as the reader thread would. An empty chunk is
    // ignored (a read only comes back empty at end of input: use `endInput`);
    // so is anything after the end of input or after the process exited.
    void feed(std::string_view bytes);
    // Delivers the empty chunk that ends the input; later feeds are ignored.
    void endInput();
    // The same, delivered by the scheduler once virtual time reaches `uptime`
    // (at once, for a time already past). They count as pending tasks.
    void feedAt(double uptime, std::string bytes);
    void endInputAt(double uptime);

    bool reading() const { return static_cast<bool>(onChunk_); }
    bool inputEnded() const { return inputEnded_; }

    // Every line written, without its line feed.
    const std::vector<std::string>& lines() const { return lines_; }
    std::vector<std::string> takeLines();
    // From now on `writeLine` fails, as with a companion that stopped reading.
    void closeOutput() { outputClosed_ = true; }
    bool outputClosed() const { return outputClosed_; }

private:
    friend class ManualRuntime;
    explicit ManualStreams(ManualScheduler& scheduler) : scheduler_(scheduler) {}

    ManualScheduler& scheduler_;
    std::function<void(std::string_view)> onChunk_;
    std::vector<std::string> held_;
    bool inputEnded_ = false;
    bool endDelivered_ = false;
    std::vector<std::string> lines_;
    bool outputClosed_ = false;
};

// The test runtime: a manual clock and one deterministic scheduler for the main
// queue, every serial queue and scripted input, all run on the thread that
// calls `runUntilIdle`, `advance`, `advanceTo` or `run`. Virtual time moves only
// through those calls and only while every queue is idle; tasks due at the same
// time run in the order they were posted, across queues.
//
// Posting is safe from any thread; everything else belongs to the test's
// thread. Queues and timers may outlive the runtime: from then on they drop
// what they are given.
class ManualRuntime final : public Runtime {
public:
    // A start away from zero keeps "never" (0) distinguishable from "at start".
    static constexpr double kDefaultStartUptime = 1000.0;
    static constexpr double kDefaultWallBase = 1.8e9;
    static constexpr double kDefaultRunLimit = 3600.0;

    explicit ManualRuntime(double startUptime = kDefaultStartUptime);
    ~ManualRuntime() override;
    ManualRuntime(const ManualRuntime&) = delete;
    ManualRuntime& operator=(const ManualRuntime&) = delete;

    Clock& clock() override;
    Queue& mainQueue() override;
    std::unique_ptr<Queue> makeSerialQueue(std::string_view label) override;
    // Ticks fall exactly on start + k * interval in virtual time; the leeway is
    // ignored. An interval of zero or less makes a one-shot timer.
    std::unique_ptr<RepeatingTimer> makeTimer(Task handler) override;
    StandardStreams& standardStreams() override { return streams_; }

    // Advances virtual time, step by step, until an exit is requested and
    // returns its status; -1, at the end of the limit, when the run limit
    // (virtual seconds from the call) passes first. Lets a test run a whole
    // process entry in-process against scripted input.
    int run() override;
    void requestExit(int status) override;
    bool exitRequested() const override;
    std::optional<int> exitStatus() const;

    ManualStreams& streams() { return streams_; }

    double now() const;
    // Runs every task due now, including those they post for now.
    void runUntilIdle();
    // Moves to each next due time up to now + seconds, running what is due at
    // each step; ends at exactly now + seconds. Time never moves backwards.
    void advance(double seconds);
    void advanceTo(double uptime);
    std::size_t pendingTaskCount() const;
    std::optional<double> nextTaskTime() const;

    void setRunLimit(double seconds) { runLimit_ = seconds; }
    // wallSeconds() is this base plus the uptime.
    void setWallBase(double seconds);
    void setThreadCPUSeconds(double seconds);
    void addThreadCPUSeconds(double seconds);

private:
    std::shared_ptr<ManualScheduler> scheduler_;
    std::unique_ptr<Queue> mainQueue_;
    ManualStreams streams_;
    double runLimit_ = kDefaultRunLimit;
};

}  // namespace scene
