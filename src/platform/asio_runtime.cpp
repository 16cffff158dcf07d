#include "platform/asio_runtime.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <sys/uio.h>
#include <string>
#include <thread>
#include <vector>

// Asio brackets every handler it runs with standalone memory fences, which the
// thread sanitizer cannot model (GCC refuses to compile them under it). The
// handlers reach their threads through the scheduler's mutex, which orders them
// already, so the sanitized build goes without the fences. This is the only
// file that includes Asio, so no other translation unit sees them differently.
#if defined(__SANITIZE_THREAD__)
#define ASIO_DISABLE_FENCED_BLOCK
#endif
#include <asio.hpp>

namespace scene {
namespace {

using SteadyClock = std::chrono::steady_clock;
using WorkGuard = asio::executor_work_guard<asio::io_context::executor_type>;

// Reads are sized for a burst of commands, not for bulk data.
constexpr std::size_t kReadChunkBytes = 64 * 1024;

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

void nameCurrentThread(std::string_view label) {
    // Linux keeps 15 characters of a thread name; longer names are refused.
    const std::string name(label.substr(0, 15));
#if defined(__APPLE__)
    pthread_setname_np(name.c_str());
#else
    pthread_setname_np(pthread_self(), name.c_str());
#endif
}

// Close-on-exec from the start where the system allows it, so a child spawned
// by another thread never inherits the pipe.
bool openWakePipe(int fds[2]) {
#if defined(__linux__)
    return ::pipe2(fds, O_CLOEXEC) == 0;
#else
    if (::pipe(fds) != 0) return false;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    return true;
#endif
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

// Standard input and output over two descriptors it does not own. Reading runs
// on one thread of its own, woken for shutdown through a pipe; writes happen on
// the calling thread, serialised by a mutex so lines never interleave.
class DescriptorStreams final : public StandardStreams {
public:
    DescriptorStreams(int inputFd, int outputFd) : inputFd_(inputFd), outputFd_(outputFd) {}

    ~DescriptorStreams() override {
        if (reader_.joinable()) {
            const char wake = 0;
            while (::write(wakeWrite_, &wake, 1) < 0 && errno == EINTR) {
            }
            reader_.join();
        }
        if (wakeRead_ >= 0) ::close(wakeRead_);
        if (wakeWrite_ >= 0) ::close(wakeWrite_);
    }

    void startReading(std::function<void(std::string_view chunk)> onChunk) override {
        if (reader_.joinable()) return;
        int fds[2];
        if (!openWakePipe(fds)) {
            // Without a wake pipe the reader could not be stopped; report the
            // input as ended rather than leaving a thread we cannot join.
            onChunk("");
            return;
        }
        wakeRead_ = fds[0];
        wakeWrite_ = fds[1];
        reader_ = std::thread([this, onChunk = std::move(onChunk)] {
            nameCurrentThread("stdin-reader");
            readLoop(onChunk);
        });
    }

    bool writeLine(std::string_view line) override {
        if (closed_.load(std::memory_order_relaxed)) return false;
        // The line and its line feed leave in one gathered write: no copy of a
        // line that can be a hundred kilobytes, thirty times a second.
        static constexpr char kLineFeed = '\n';
        const std::size_t total = line.size() + 1;
        const std::lock_guard lock(writeMutex_);
        std::size_t done = 0;
        while (done < total) {
            iovec parts[2];
            int count = 0;
            if (done < line.size())
                parts[count++] = {const_cast<char*>(line.data() + done), line.size() - done};
            parts[count++] = {const_cast<char*>(&kLineFeed), 1};
            const ssize_t n = ::writev(outputFd_, parts, count);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // An inherited non-blocking descriptor: wait for room, as a
                // blocking write would.
                pollfd out{outputFd_, POLLOUT, 0};
                if (::poll(&out, 1, -1) >= 0 || errno == EINTR) continue;
            }
            closed_.store(true, std::memory_order_relaxed);
            return false;
        }
        return true;
    }

private:
    void readLoop(const std::function<void(std::string_view)>& onChunk) {
        if (inputFd_ < 0) {  // poll would skip it and wait forever
            onChunk("");
            return;
        }
        std::vector<char> buffer(kReadChunkBytes);
        for (;;) {
            pollfd fds[2] = {{inputFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                onChunk("");
                return;
            }
            if (fds[1].revents != 0) return;  // shutting down: the input did not end
            if (fds[0].revents == 0) continue;
            const ssize_t n = ::read(inputFd_, buffer.data(), buffer.size());
            if (n > 0) {
                onChunk(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
                continue;
            }
            if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
            onChunk("");
            return;
        }
    }

    const int inputFd_;
    const int outputFd_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread reader_;
    std::mutex writeMutex_;
    std::atomic<bool> closed_{false};
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
        : main(1), guard(asio::make_work_guard(main)), mainQueue(main), streams(inputFd, outputFd) {}

    SystemClock clock;
    asio::io_context main;
    WorkGuard guard;
    ContextQueue mainQueue;
    DescriptorStreams streams;

    mutable std::mutex exitMutex;
    std::optional<int> exitStatus;
    std::atomic<bool> exitRequested{false};
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
