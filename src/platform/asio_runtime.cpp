#include "platform/asio_runtime.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// Asio brackets every handler it runs with standalone memory fences, which the
// thread sanitizer cannot model (GCC refuses to compile them under it). The
// handlers reach their threads through the scheduler's mutex, which orders them
// already, so the sanitized build goes without the fences. This is the only
// file that includes Asio, so no other translation unit sees them differently.
#if defined(__SANITIZE_THREAD__)
#define ASIO_DISABLE_FENCED_BLOCK
#endif
#include <asio.hpp>

#include "platform/descriptor_streams.h"
#include "platform/thread_name.h"

namespace scene {
namespace {

using SteadyClock = std::chrono::steady_clock;
using WorkGuard = asio::executor_work_guard<asio::io_context::executor_type>;

// Delays that are not positive (NaN included) mean "now"; absurdly long ones
// are capped so the conversion cannot overflow.
SteadyClock::duration toDuration(double seconds) {
    constexpr double kLongest = 1e9;
    if (!(seconds > 0)) return SteadyClock::duration::zero();
    return std::chrono::duration_cast<SteadyClock::duration>(
        std::chrono::duration<double>(std::min(seconds, kLongest)));
}

double secondsOf(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Stateless reads of the system clocks; safe on any thread.
class SystemClock final : public Clock {
public:
    double uptime() const override { return secondsOf(CLOCK_MONOTONIC); }
    double wallSeconds() const override { return secondsOf(CLOCK_REALTIME); }
    double threadCPUSeconds() const override { return secondsOf(CLOCK_THREAD_CPUTIME_ID); }
};

// Posts onto an io_context that someone else owns and runs. Safe on any thread.
class ContextQueue final : public Queue {
public:
    explicit ContextQueue(asio::io_context& context) : context_(context) {}

    void post(Task task) override { asio::post(context_, std::move(task)); }

    void postAfter(double seconds, Task task) override {
        // A zero delay keeps its place among plain posts instead of taking a
        // trip through the reactor.
        if (!(seconds > 0)) {
            post(std::move(task));
            return;
        }
        // The wait owns its timer; if the context goes away first, the handler
        // and the timer are destroyed together without running.
        auto timer = std::make_shared<asio::steady_timer>(context_, toDuration(seconds));
        timer->async_wait([timer, task = std::move(task)](const asio::error_code& error) {
            if (!error) task();
        });
    }

private:
    asio::io_context& context_;
};

// A serial queue with its own thread and io_context. Tasks run on that thread,
// one at a time, in posting order. Destruction stops the context, joins the
// thread and drops whatever is still queued.
class ThreadQueue final : public Queue {
public:
    explicit ThreadQueue(std::string_view label)
        : context_(1), guard_(asio::make_work_guard(context_)), queue_(context_) {
        thread_ = std::thread([this, name = std::string(label)] {
            nameCurrentThread(name);
            context_.run();
        });
    }

    ~ThreadQueue() override {
        context_.stop();
        thread_.join();
    }

    void post(Task task) override { queue_.post(std::move(task)); }
    void postAfter(double seconds, Task task) override { queue_.postAfter(seconds, std::move(task)); }

private:
    asio::io_context context_;
    WorkGuard guard_;
    ContextQueue queue_;
    std::thread thread_;
};

// What a repeating timer shares with its pending wait. Lives on the main queue;
// the wait holds it weakly, so a destroyed timer's late completion finds nothing.
struct TimerState {
    TimerState(asio::io_context& context, Task handler) : timer(context), handler(std::move(handler)) {}

    asio::steady_timer timer;
    Task handler;
    // Bumped by every schedule, cancel and by destruction: a completion from an
    // older generation is stale even if it slipped past the timer's cancel.
    std::uint64_t generation = 0;
    SteadyClock::time_point deadline;
    SteadyClock::duration interval{};
};

void armTimer(const std::shared_ptr<TimerState>& state) {
    state->timer.expires_at(state->deadline);
    state->timer.async_wait(
        [weak = std::weak_ptr<TimerState>(state), generation = state->generation](const asio::error_code& error) {
            if (error) return;
            const std::shared_ptr<TimerState> state = weak.lock();
            if (!state || state->generation != generation) return;
            // The handler may reschedule, cancel or destroy the timer; `state`
            // keeps the memory alive and the generation tells us to stand down.
            state->handler();
            if (state->generation != generation) return;
            if (state->interval <= SteadyClock::duration::zero()) return;
            // Fixed rate without bursts: after a late tick, resume at the next
            // deadline of the original grid that still lies in the future.
            const SteadyClock::time_point now = SteadyClock::now();
            state->deadline += state->interval;
            if (state->deadline <= now) {
                const auto missed = (now - state->deadline) / state->interval + 1;
                state->deadline += missed * state->interval;
            }
            armTimer(state);
        });
}

// A dispatch-style timer on the main io_context; touched only on the main queue.
class AsioRepeatingTimer final : public RepeatingTimer {
public:
    AsioRepeatingTimer(asio::io_context& context, Task handler)
        : state_(std::make_shared<TimerState>(context, std::move(handler))) {}

    ~AsioRepeatingTimer() override { cancel(); }

    void schedule(double firstDelay, double interval, double /*leeway*/) override {
        ++state_->generation;
        state_->deadline = SteadyClock::now() + toDuration(firstDelay);
        state_->interval = toDuration(interval);
        armTimer(state_);
    }

    void cancel() override {
        ++state_->generation;
        state_->timer.cancel();
    }

private:
    std::shared_ptr<TimerState> state_;
};

void ignoreBrokenPipes() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}

}  // namespace

// Everything the runtime owns. Members are destroyed in reverse order, so the
// reader thread is joined before the main context it posts to goes away.
struct AsioRuntime::State {
    State(int inputFd, int outputFd)
        : main(1), guard(asio::make_work_guard(main)), mainQueue(main), streams(inputFd, outputFd, exitRequested) {}

    mutable std::mutex exitMutex;
    std::optional<int> exitStatus;
    // Also tells a write waiting for room that the process is ending.
    std::atomic<bool> exitRequested{false};

    SystemClock clock;
    asio::io_context main;
    WorkGuard guard;
    ContextQueue mainQueue;
    DescriptorStreams streams;
};

AsioRuntime::AsioRuntime(int inputFd, int outputFd) {
    ignoreBrokenPipes();
    state_ = std::make_unique<State>(inputFd, outputFd);
}

AsioRuntime::~AsioRuntime() = default;

Clock& AsioRuntime::clock() { return state_->clock; }

Queue& AsioRuntime::mainQueue() { return state_->mainQueue; }

std::unique_ptr<Queue> AsioRuntime::makeSerialQueue(std::string_view label) {
    return std::make_unique<ThreadQueue>(label);
}

std::unique_ptr<RepeatingTimer> AsioRuntime::makeTimer(Task handler) {
    return std::make_unique<AsioRepeatingTimer>(state_->main, std::move(handler));
}

StandardStreams& AsioRuntime::standardStreams() { return state_->streams; }

int AsioRuntime::run() {
    // The work guard keeps `run` from returning on an empty queue; only
    // `requestExit` stops the context.
    state_->main.run();
    const std::lock_guard lock(state_->exitMutex);
    return state_->exitStatus.value_or(0);
}

void AsioRuntime::requestExit(int status) {
    {
        const std::lock_guard lock(state_->exitMutex);
        if (state_->exitStatus) return;
        state_->exitStatus = status;
        state_->exitRequested.store(true);
    }
    state_->main.stop();
}

bool AsioRuntime::exitRequested() const { return state_->exitRequested.load(); }

}  // namespace scene
