#include "platform/manual_runtime.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

namespace scene {
namespace {

// Virtual time and the figures tests set by hand. Atomic so a clock read from
// a stray thread is harmless; only the scheduler moves the uptime.
class ManualClock final : public Clock {
public:
    explicit ManualClock(double uptime) : uptime_(uptime) {}

    double uptime() const override { return uptime_.load(); }
    double wallSeconds() const override { return wallBase_.load() + uptime_.load(); }
    double threadCPUSeconds() const override { return cpu_.load(); }

    void setUptime(double seconds) { uptime_.store(seconds); }
    void setWallBase(double seconds) { wallBase_.store(seconds); }
    void setThreadCPUSeconds(double seconds) { cpu_.store(seconds); }

private:
    std::atomic<double> uptime_;
    std::atomic<double> wallBase_{ManualRuntime::kDefaultWallBase};
    std::atomic<double> cpu_{0};
};

}  // namespace

// The one task list behind every manual queue, timer and scripted input,
// ordered by due time and then by a global posting sequence. Shared by the
// runtime and everything it made, so a queue or timer that outlives the runtime
// still has something (closed) to talk to. The task list is locked, so posting
// works from any thread; tasks run on the thread that drives the scheduler.
class ManualScheduler {
public:
    using QueueId = std::uint64_t;
    // Identifies a pending task so its owner can withdraw it.
    struct Key {
        double due = 0;
        std::uint64_t sequence = 0;
        auto operator<=>(const Key&) const = default;
    };

    static constexpr QueueId kMainQueue = 0;
    static constexpr QueueId kInput = 1;

    explicit ManualScheduler(double startUptime) : clock(startUptime) {}

    ManualClock clock;

    QueueId newQueue() {
        const std::lock_guard lock(mutex_);
        return nextQueue_++;
    }

    // Delays that are not positive (NaN included) mean "now".
    std::optional<Key> postAfter(QueueId queue, double delay, Task task) {
        return postAt(queue, clock.uptime() + (delay > 0 ? delay : 0), std::move(task));
    }

    // A time already past (or not a number) means "now". A refused task dies
    // after the lock is released, in case its captures post while dying.
    std::optional<Key> postAt(QueueId queue, double due, Task task) {
        const std::lock_guard lock(mutex_);
        if (closed_) return std::nullopt;
        const double now = clock.uptime();
        const Key key{due >= now ? due : now, nextSequence_++};
        tasks_.emplace(key, Entry{queue, std::move(task)});
        return key;
    }

    // Withdrawn tasks are destroyed outside the lock (declared before it).
    void remove(Key key) {
        Task dropped;
        const std::lock_guard lock(mutex_);
        const auto it = tasks_.find(key);
        if (it == tasks_.end()) return;
        dropped = std::move(it->second.task);
        tasks_.erase(it);
    }

    void dropQueue(QueueId queue) {
        std::vector<Task> dropped;
        const std::lock_guard lock(mutex_);
        for (auto it = tasks_.begin(); it != tasks_.end();) {
            if (it->second.queue == queue) {
                dropped.push_back(std::move(it->second.task));
                it = tasks_.erase(it);
            } else {
                ++it;
            }
        }
    }

    // Drops every task and refuses new ones: the runtime is going away.
    void close() {
        std::map<Key, Entry> dropped;
        const std::lock_guard lock(mutex_);
        closed_ = true;
        dropped.swap(tasks_);
    }

    void runUntilIdle() {
        for (;;) {
            if (exitRequested()) return;
            Task task;
            {
                const std::lock_guard lock(mutex_);
                if (tasks_.empty() || tasks_.begin()->first.due > clock.uptime()) return;
                task = std::move(tasks_.begin()->second.task);
                tasks_.erase(tasks_.begin());
            }
            task();
        }
    }

    // Steps to each due time up to `target` and then to `target`; stops where
    // it is when an exit is requested. Returns whether it got to `target`.
    bool advanceTo(double target) {
        for (;;) {
            runUntilIdle();
            if (exitRequested()) return false;
            const std::optional<double> next = nextDue();
            if (!next || *next > target) break;
            clock.setUptime(*next);
        }
        if (target > clock.uptime()) clock.setUptime(target);
        return true;
    }

    std::optional<double> nextDue() const {
        const std::lock_guard lock(mutex_);
        if (tasks_.empty()) return std::nullopt;
        return tasks_.begin()->first.due;
    }

    std::size_t pendingCount() const {
        const std::lock_guard lock(mutex_);
        return tasks_.size();
    }

    void requestExit(int status) {
        const std::lock_guard lock(mutex_);
        if (!exitStatus_) exitStatus_ = status;
    }

    std::optional<int> exitStatus() const {
        const std::lock_guard lock(mutex_);
        return exitStatus_;
    }

    bool exitRequested() const { return exitStatus().has_value(); }

private:
    struct Entry {
        QueueId queue = 0;
        Task task;
    };

    mutable std::mutex mutex_;
    std::map<Key, Entry> tasks_;
    std::uint64_t nextSequence_ = 0;
    QueueId nextQueue_ = kInput + 1;
    bool closed_ = false;
    std::optional<int> exitStatus_;
};

namespace {

// A queue is a tag on the shared task list. A serial queue withdraws its
// pending tasks when destroyed; the main queue lives as long as the runtime.
class ManualQueue final : public Queue {
public:
    ManualQueue(std::shared_ptr<ManualScheduler> scheduler, ManualScheduler::QueueId id)
        : scheduler_(std::move(scheduler)), id_(id) {}

    ~ManualQueue() override { scheduler_->dropQueue(id_); }

    void post(Task task) override { scheduler_->postAfter(id_, 0, std::move(task)); }
    void postAfter(double seconds, Task task) override { scheduler_->postAfter(id_, seconds, std::move(task)); }

private:
    std::shared_ptr<ManualScheduler> scheduler_;
    ManualScheduler::QueueId id_;
};

// What a timer shares with its pending tick. The tick holds it weakly, and the
// generation marks ticks left over from an earlier schedule.
struct ManualTimerState {
    explicit ManualTimerState(Task handler) : handler(std::move(handler)) {}

    Task handler;
    std::uint64_t generation = 0;
    double start = 0;
    double interval = 0;
    std::uint64_t tick = 0;  // the pending tick is due at start + tick * interval
    std::optional<ManualScheduler::Key> pending;
};

void armTimer(ManualScheduler& scheduler, const std::shared_ptr<ManualTimerState>& state) {
    // Tick zero stands alone so that an infinite interval cannot make 0 * inf.
    const double due =
        state->tick == 0 ? state->start : state->start + static_cast<double>(state->tick) * state->interval;
    // The tick only ever runs from inside the scheduler, so the raw reference
    // cannot dangle when it does.
    state->pending = scheduler.postAt(
        ManualScheduler::kMainQueue, due,
        [&scheduler, weak = std::weak_ptr<ManualTimerState>(state), generation = state->generation] {
            const std::shared_ptr<ManualTimerState> state = weak.lock();
            if (!state || state->generation != generation) return;
            state->pending.reset();
            state->handler();
            if (state->generation != generation || !(state->interval > 0)) return;
            const double now = scheduler.clock.uptime();
            do {
                ++state->tick;
            } while (state->start + static_cast<double>(state->tick) * state->interval <= now);
            armTimer(scheduler, state);
        });
}

// A repeating timer on the main queue, in virtual time; used on the test's thread.
class ManualRepeatingTimer final : public RepeatingTimer {
public:
    ManualRepeatingTimer(std::shared_ptr<ManualScheduler> scheduler, Task handler)
        : scheduler_(std::move(scheduler)), state_(std::make_shared<ManualTimerState>(std::move(handler))) {}

    ~ManualRepeatingTimer() override { cancel(); }

    void schedule(double firstDelay, double interval, double /*leeway*/) override {
        cancel();
        state_->start = scheduler_->clock.uptime() + (firstDelay > 0 ? firstDelay : 0);
        state_->interval = interval;
        state_->tick = 0;
        armTimer(*scheduler_, state_);
    }

    void cancel() override {
        ++state_->generation;
        if (state_->pending) scheduler_->remove(*state_->pending);
        state_->pending.reset();
    }

private:
    std::shared_ptr<ManualScheduler> scheduler_;
    std::shared_ptr<ManualTimerState> state_;
};

}  // namespace

// ManualStreams

void ManualStreams::startReading(std::function<void(std::string_view chunk)> onChunk) {
    if (onChunk_ || !onChunk) return;
    onChunk_ = std::move(onChunk);
    std::vector<std::string> held;
    held.swap(held_);
    for (const std::string& chunk : held) onChunk_(chunk);
    if (inputEnded_ && !endDelivered_) {
        endDelivered_ = true;
        onChunk_("");
    }
}

bool ManualStreams::writeLine(std::string_view line) {
    if (outputClosed_) return false;
    lines_.emplace_back(line);
    return true;
}

void ManualStreams::feed(std::string_view bytes) {
    if (bytes.empty() || inputEnded_ || scheduler_.exitRequested()) return;
    if (onChunk_) {
        onChunk_(bytes);
    } else {
        held_.emplace_back(bytes);
    }
}

void ManualStreams::endInput() {
    if (inputEnded_ || scheduler_.exitRequested()) return;
    inputEnded_ = true;
    if (onChunk_) {
        endDelivered_ = true;
        onChunk_("");
    }
}

void ManualStreams::feedAt(double uptime, std::string bytes) {
    scheduler_.postAt(ManualScheduler::kInput, uptime, [this, bytes = std::move(bytes)] { feed(bytes); });
}

void ManualStreams::endInputAt(double uptime) {
    scheduler_.postAt(ManualScheduler::kInput, uptime, [this] { endInput(); });
}

std::vector<std::string> ManualStreams::takeLines() {
    std::vector<std::string> taken;
    taken.swap(lines_);
    return taken;
}

// ManualRuntime

ManualRuntime::ManualRuntime(double startUptime)
    : scheduler_(std::make_shared<ManualScheduler>(startUptime)),
      mainQueue_(std::make_unique<ManualQueue>(scheduler_, ManualScheduler::kMainQueue)),
      streams_(*scheduler_) {}

// Scripted input tasks point at `streams_`: they must be gone before it is.
ManualRuntime::~ManualRuntime() { scheduler_->close(); }

Clock& ManualRuntime::clock() { return scheduler_->clock; }

Queue& ManualRuntime::mainQueue() { return *mainQueue_; }

std::unique_ptr<Queue> ManualRuntime::makeSerialQueue(std::string_view /*label*/) {
    return std::make_unique<ManualQueue>(scheduler_, scheduler_->newQueue());
}

std::unique_ptr<RepeatingTimer> ManualRuntime::makeTimer(Task handler) {
    return std::make_unique<ManualRepeatingTimer>(scheduler_, std::move(handler));
}

int ManualRuntime::run() {
    if (!scheduler_->advanceTo(now() + runLimit_)) return *scheduler_->exitStatus();
    return -1;
}

void ManualRuntime::requestExit(int status) { scheduler_->requestExit(status); }

bool ManualRuntime::exitRequested() const { return scheduler_->exitRequested(); }

std::optional<int> ManualRuntime::exitStatus() const { return scheduler_->exitStatus(); }

double ManualRuntime::now() const { return scheduler_->clock.uptime(); }

void ManualRuntime::runUntilIdle() { scheduler_->runUntilIdle(); }

void ManualRuntime::advance(double seconds) { advanceTo(now() + seconds); }

// After an exit nothing runs any more, but the clock still gets to `uptime`.
void ManualRuntime::advanceTo(double uptime) {
    if (!scheduler_->advanceTo(uptime) && uptime > now()) scheduler_->clock.setUptime(uptime);
}

std::size_t ManualRuntime::pendingTaskCount() const { return scheduler_->pendingCount(); }

std::optional<double> ManualRuntime::nextTaskTime() const { return scheduler_->nextDue(); }

void ManualRuntime::setWallBase(double seconds) { scheduler_->clock.setWallBase(seconds); }

void ManualRuntime::setThreadCPUSeconds(double seconds) { scheduler_->clock.setThreadCPUSeconds(seconds); }

void ManualRuntime::addThreadCPUSeconds(double seconds) {
    scheduler_->clock.setThreadCPUSeconds(scheduler_->clock.threadCPUSeconds() + seconds);
}

}  // namespace scene
