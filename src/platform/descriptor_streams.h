#pragma once

#include <sys/uio.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

#include "platform/runtime.h"

namespace scene {

// Standard input and output over two descriptors it does not own (a negative
// one counts as closed). Reading runs on a thread of its own, woken for
// shutdown through a pipe. Writes happen on the calling thread, serialised by
// a mutex so lines never interleave.
//
// A write never sleeps in the kernel where the output is a pipe or a socket:
// when the companion stops reading, the writer waits for room in short slices
// and asks between them whether to go on (`ending`, raised by the runtime's
// exit request, and the check set with `setWriteWaitCheck`). So an exit never
// waits on a reader that has gone quiet, and a line is never cut while the
// reader still takes it.
class DescriptorStreams final : public StandardStreams {
public:
    DescriptorStreams(int inputFd, int outputFd, const std::atomic<bool>& ending);
    ~DescriptorStreams() override;
    DescriptorStreams(const DescriptorStreams&) = delete;
    DescriptorStreams& operator=(const DescriptorStreams&) = delete;

    void startReading(std::function<void(std::string_view chunk)> onChunk) override;
    bool writeLine(std::string_view line) override;
    void setWriteWaitCheck(std::function<bool()> keepWaiting) override;

private:
    // How the output descriptor is written without blocking.
    enum class Output {
        blocking,     // a terminal or a file: the kernel never holds a write for long
        nonBlocking,  // a pipe reopened as a description of our own, or one inherited so
        socket,       // a socket, asked per call not to block
    };

    void readLoop(const std::function<void(std::string_view)>& onChunk);
    long writeSome(const iovec* parts, int count) const;
    // Waits until the output may take more. False when the line is to be
    // given up: the process is ending (or the check said so) and the reader
    // did not make room within the grace.
    bool awaitRoom(bool& ending, std::chrono::steady_clock::time_point& giveUpAt);

    const int inputFd_;
    int outputFd_;
    bool ownsOutputFd_ = false;
    Output output_ = Output::blocking;
    const std::atomic<bool>& ending_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread reader_;
    std::mutex writeMutex_;
    std::function<bool()> keepWaiting_;  // guarded by writeMutex_
    std::atomic<bool> closed_{false};
};

}  // namespace scene
