#pragma once

#include <unistd.h>

#include <memory>
#include <string_view>

#include "platform/runtime.h"

namespace scene {

// The production runtime. Owns the main io_context (run by whichever thread
// calls `run`, in practice the process's main thread), the clock and the
// standard streams with their reader thread. Serial queues own their own thread
// and io_context; timers run on the main io_context.
//
// The streams default to the process's descriptors 0 and 1; tests pass pipes.
// The runtime never closes them; a pipe on the output is written through a
// non-blocking description of the runtime's own, held until it is destroyed
// (DescriptorStreams). Construction ignores SIGPIPE for the whole process, so
// a closed output shows up as a failed write instead of a signal.
//
// Timers and the main queue refer to the runtime: it must outlive every timer
// it makes, and timers are scheduled, cancelled and destroyed on the main queue
// (or before `run`). Serial queues are independent and may outlive it.
class AsioRuntime final : public Runtime {
public:
    explicit AsioRuntime(int inputFd = STDIN_FILENO, int outputFd = STDOUT_FILENO);
    ~AsioRuntime() override;
    AsioRuntime(const AsioRuntime&) = delete;
    AsioRuntime& operator=(const AsioRuntime&) = delete;

    Clock& clock() override;
    Queue& mainQueue() override;
    // The queue's thread is named after `label` (truncated to what the system
    // keeps). Destroying the queue joins its thread and drops what is still
    // queued; never destroy it from one of its own tasks.
    std::unique_ptr<Queue> makeSerialQueue(std::string_view label) override;
    // Asio timers have no leeway; the kernel's timer slack plays that part.
    // An interval of zero or less makes a one-shot timer.
    std::unique_ptr<RepeatingTimer> makeTimer(Task handler) override;
    StandardStreams& standardStreams() override;

    int run() override;
    void requestExit(int status) override;
    bool exitRequested() const override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace scene
