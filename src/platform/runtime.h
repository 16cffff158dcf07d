#pragma once

#include <functional>
#include <memory>
#include <string_view>

namespace scene {

using Task = std::function<void()>;

// The time base. `uptime` is monotonic seconds and stamps everything the system
// records; wall-clock seconds since 1970 appear only in replies and event logs.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double uptime() const = 0;
    virtual double wallSeconds() const = 0;
    // CPU seconds consumed by the calling thread.
    virtual double threadCPUSeconds() const = 0;
};

// A serial queue: tasks run one at a time, in posting order for equal due times.
class Queue {
public:
    virtual ~Queue() = default;
    virtual void post(Task task) = 0;
    virtual void postAfter(double seconds, Task task) = 0;
};

// A repeating timer whose handler runs on the main queue. A new `schedule`
// replaces the previous one at once.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
    virtual void schedule(double firstDelay, double interval, double leeway) = 0;
    virtual void cancel() = 0;
};

// The process's standard input and output.
class StandardStreams {
public:
    virtual ~StandardStreams() = default;
    // Starts delivering what arrives on standard input: `onChunk` is called on
    // a reader thread (never the main queue) with each chunk as read; an empty
    // chunk means end of input and is the last call.
    virtual void startReading(std::function<void(std::string_view chunk)> onChunk) = 0;
    // Writes the line and a line feed and flushes. False once standard output
    // is closed, or once a line had to be given up half-way (below); nothing
    // is written after that.
    virtual bool writeLine(std::string_view line) = 0;
    // While a line waits for room (the companion is not reading), the writer
    // asks `keepWaiting` every few milliseconds, on the writing thread,
    // whether to go on. Once it answers false, or once an exit is requested,
    // the reader has a short grace to take the rest of the line; then the
    // line is given up. Without a check a line waits until an exit.
    virtual void setWriteWaitCheck(std::function<bool()> keepWaiting) = 0;
};

// Queues, timers, time and the process's streams. The production runtime runs on
// Asio threads; the test runtime runs every queue in one thread in virtual time.
class Runtime {
public:
    virtual ~Runtime() = default;
    virtual Clock& clock() = 0;
    virtual Queue& mainQueue() = 0;
    virtual std::unique_ptr<Queue> makeSerialQueue(std::string_view label) = 0;
    virtual std::unique_ptr<RepeatingTimer> makeTimer(Task handler) = 0;
    virtual StandardStreams& standardStreams() = 0;

    // Runs the main queue until an exit is requested; returns its status.
    virtual int run() = 0;
    // Safe from any thread; the first request wins.
    virtual void requestExit(int status) = 0;
    virtual bool exitRequested() const = 0;
};

}  // namespace scene
