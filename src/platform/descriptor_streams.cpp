#include "platform/descriptor_streams.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/thread_name.h"

namespace scene {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Reads are sized for a burst of commands, not for bulk data.
constexpr std::size_t kReadChunkBytes = 64 * 1024;

// While the output is full, the writer looks up this often to see whether it
// should still wait.
constexpr int kWaitSliceMS = 10;
// Once the process is ending, a reader that is still reading gets this long
// to take the rest of the line; the whole exit stays well inside 100 ms.
constexpr auto kEndingGrace = std::chrono::milliseconds(40);

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

// A pipe's own description, opened anew through /proc, so that making it
// non-blocking changes nothing for anyone else who holds the pipe. Negative
// when the system does not offer that.
int reopenNonBlocking(int fd) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    return ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}

}  // namespace

DescriptorStreams::DescriptorStreams(int inputFd, int outputFd, const std::atomic<bool>& ending)
    : inputFd_(inputFd), outputFd_(outputFd), ending_(ending) {
    struct stat info {};
    if (outputFd_ < 0 || ::fstat(outputFd_, &info) != 0) return;
    if (S_ISSOCK(info.st_mode)) {
        output_ = Output::socket;
    } else if (S_ISFIFO(info.st_mode)) {
        const int flags = ::fcntl(outputFd_, F_GETFL);
        if (flags >= 0 && (flags & O_NONBLOCK) != 0) {
            output_ = Output::nonBlocking;
        } else if (const int own = reopenNonBlocking(outputFd_); own >= 0) {
            outputFd_ = own;
            ownsOutputFd_ = true;
            output_ = Output::nonBlocking;
        }
    }
}

DescriptorStreams::~DescriptorStreams() {
    if (reader_.joinable()) {
        const char wake = 0;
        while (::write(wakeWrite_, &wake, 1) < 0 && errno == EINTR) {
        }
        reader_.join();
    }
    if (wakeRead_ >= 0) ::close(wakeRead_);
    if (wakeWrite_ >= 0) ::close(wakeWrite_);
    if (ownsOutputFd_) ::close(outputFd_);
}

void DescriptorStreams::startReading(std::function<void(std::string_view chunk)> onChunk) {
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

void DescriptorStreams::setWriteWaitCheck(std::function<bool()> keepWaiting) {
    const std::lock_guard lock(writeMutex_);
    keepWaiting_ = std::move(keepWaiting);
}

long DescriptorStreams::writeSome(const iovec* parts, int count) const {
    if (output_ == Output::socket) {
        msghdr message{};
        message.msg_iov = const_cast<iovec*>(parts);
        message.msg_iovlen = static_cast<std::size_t>(count);
        return ::sendmsg(outputFd_, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    return ::writev(outputFd_, parts, count);
}

bool DescriptorStreams::writeLine(std::string_view line) {
    if (closed_.load(std::memory_order_relaxed)) return false;
    // The line and its line feed leave in one gathered write: no copy of a
    // line that can be a hundred kilobytes, thirty times a second.
    static constexpr char kLineFeed = '\n';
    const std::size_t total = line.size() + 1;
    const std::lock_guard lock(writeMutex_);
    bool ending = false;
    SteadyClock::time_point giveUpAt{};
    std::size_t done = 0;
    while (done < total) {
        iovec parts[2];
        int count = 0;
        if (done < line.size()) parts[count++] = {const_cast<char*>(line.data() + done), line.size() - done};
        parts[count++] = {const_cast<char*>(&kLineFeed), 1};
        const long n = writeSome(parts, count);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && awaitRoom(ending, giveUpAt)) continue;
        // Gone, or given up half-way: a later line would follow a torn one,
        // so nothing more is written.
        closed_.store(true, std::memory_order_relaxed);
        return false;
    }
    return true;
}

bool DescriptorStreams::awaitRoom(bool& ending, SteadyClock::time_point& giveUpAt) {
    for (;;) {
        const auto now = SteadyClock::now();
        if (!ending && (ending_.load() || (keepWaiting_ && !keepWaiting_()))) {
            ending = true;
            giveUpAt = now + kEndingGrace;
        }
        int timeoutMS = kWaitSliceMS;
        if (ending) {
            if (now >= giveUpAt) return false;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(giveUpAt - now).count();
            timeoutMS = static_cast<int>(std::min<long long>(timeoutMS, left));
        }
        pollfd out{outputFd_, POLLOUT, 0};
        const int ready = ::poll(&out, 1, timeoutMS);
        // Room, or an error that the next write reports.
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

void DescriptorStreams::readLoop(const std::function<void(std::string_view)>& onChunk) {
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

}  // namespace scene
