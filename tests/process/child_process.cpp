#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdexcept>
#include <utility>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace scene::testing {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMS(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Options of the sanitizers the binary may be built with.
constexpr const char* kSanitizerOptions[] = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"};

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Writes `value` in decimal with a terminating zero into room of 16 characters.
void writeDecimal(char* text, pid_t value) {
    char digits[16];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && count < 15);
    for (int i = 0; i < count; ++i) text[i] = digits[count - 1 - i];
    text[count] = '\0';
}

}  // namespace

std::string samplerPath() { return SCENE_SAMPLER_BINARY; }
std::string sceneFile(const std::string& name) { return std::string(SCENE_SAMPLER_TEST_SCENES) + "/" + name; }

std::string writeTempFile(const std::string& name, const std::string& text) {
    // Test processes run side by side and share the temporary directory: each
    // writes files of its own.
    const std::string path = ::testing::TempDir() + "scene-sampler-" + std::to_string(::getpid()) + "-" + name;
    std::ofstream(path) << text;
    return path;
}

ChildProcess::ChildProcess(const Options& options) {
    int in[2], out[2], err[2], report[2], release[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 ||
        ::pipe2(report, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    ::signal(SIGPIPE, SIG_IGN);
    if (options.orphan) ::prctl(PR_SET_CHILD_SUBREAPER, 1);

    std::vector<std::string> argumentText{samplerPath()};
    argumentText.insert(argumentText.end(), options.arguments.begin(), options.arguments.end());
    // The intermediate's pid is known only once it runs; the sampler's fork
    // writes it into this room, big enough for any pid in decimal.
    const bool parentArgument = options.orphan && options.parentPidArgument;
    if (parentArgument) argumentText.emplace_back(16, '\0');
    std::vector<std::string> environmentText;
    for (const auto& [key, value] : options.environment) environmentText.push_back(key + "=" + value);
    // A sanitizer build of the binary reports as the test run asked it to
    // (stop at the first finding, exit non-zero); nothing else leaks in.
    for (const char* name : kSanitizerOptions)
        if (const char* value = std::getenv(name)) environmentText.push_back(std::string(name) + "=" + value);

    if (options.outputPipeBytes > 0) ::fcntl(out[0], F_SETPIPE_SZ, options.outputPipeBytes);

    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork");
    if (child == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        for (const int fd : options.closed) ::close(fd);
        if (options.orphan) {
            const pid_t grandchild = ::fork();
            if (grandchild != 0) {
                // Report the sampler's pid, then stay its parent until released.
                ssize_t ignored = ::write(report[1], &grandchild, sizeof grandchild);
                ::close(release[1]);
                char byte = 0;
                ignored = ::read(release[0], &byte, 1);
                (void)ignored;
                ::_exit(grandchild < 0 ? 127 : 0);
            }
        }
        if (parentArgument) writeDecimal(argumentText.back().data(), ::getppid());
        std::vector<char*> argv;
        for (auto& a : argumentText) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : environmentText) envp.push_back(e.data());
        envp.push_back(nullptr);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    ::close(report[1]);
    ::close(release[0]);
    release_ = release[1];
    input_ = in[1];
    output_ = out[0];
    error_ = err[0];
    pid_ = child;
    if (options.orphan) {
        intermediate_ = child;
        pid_t grandchild = -1;
        if (::read(report[0], &grandchild, sizeof grandchild) != sizeof grandchild) grandchild = -1;
        pid_ = grandchild;
    }
    ::close(report[0]);
#ifdef SCENE_SAMPLER_LINES_DIR
    if (!options.protocolLines) return;
    std::error_code ignored;
    std::filesystem::create_directories(SCENE_SAMPLER_LINES_DIR, ignored);
    record_.open(std::string(SCENE_SAMPLER_LINES_DIR) + "/" + std::to_string(::getpid()) + "-" +
                 std::to_string(pid_) + ".jsonl");
#endif
}

void ChildProcess::received(const char* bytes, std::size_t count) {
    outputBuffer_.append(bytes, count);
    if (!record_.is_open()) return;
    // Only whole lines: one cut by the process's end is not the sampler's.
    unrecorded_.append(bytes, count);
    const std::size_t end = unrecorded_.rfind('\n');
    if (end == std::string::npos) return;
    record_.write(unrecorded_.data(), static_cast<std::streamsize>(end + 1));
    record_.flush();
    unrecorded_.erase(0, end + 1);
}

ChildProcess::~ChildProcess() {
    closeFd(release_);
    closeFd(input_);
    closeFd(output_);
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (intermediate_ > 0) ::waitpid(intermediate_, nullptr, 0);
    // The sampler writes nothing on standard error except a refused scene,
    // which the tests that expect it take with readError. Anything left is a
    // finding, most likely a sanitizer's report, even when the process went on
    // to exit with status 0. Every writer is gone by now, so this read ends at
    // once.
    const std::string rest = readError();
    if (!rest.empty()) ADD_FAILURE() << "the sampler wrote on standard error:\n" << rest;
    closeFd(error_);
}

void ChildProcess::awaitOrphaned() {
    closeFd(release_);
    if (intermediate_ <= 0) return;
    ::waitpid(intermediate_, nullptr, 0);
    intermediate_ = -1;
}

bool ChildProcess::fill(int fd, std::string* buffer, Clock::time_point deadline) {
    if (fd < 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, remainingMS(deadline));
    if (ready <= 0) return false;
    char chunk[65536];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    if (buffer == nullptr) {
        received(chunk, static_cast<std::size_t>(n));
    } else {
        buffer->append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
        const std::size_t end = outputBuffer_.find('\n');
        if (end != std::string::npos) {
            std::string line = outputBuffer_.substr(0, end);
            outputBuffer_.erase(0, end + 1);
            return line;
        }
        if (!fill(output_, nullptr, deadline)) return std::nullopt;
    }
}

std::vector<std::string> ChildProcess::readLinesFor(std::chrono::milliseconds duration) {
    const auto deadline = Clock::now() + duration;
    std::vector<std::string> lines;
    while (Clock::now() < deadline) {
        auto line = readLine(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
        if (!line) break;
        lines.push_back(std::move(*line));
    }
    return lines;
}

bool ChildProcess::awaitOutputEnd(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (output_ >= 0) {
        pollfd p{output_, POLLIN, 0};
        const int ready = ::poll(&p, 1, remainingMS(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char chunk[65536];
        const ssize_t n = ::read(output_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;
        received(chunk, static_cast<std::size_t>(n));
    }
    return false;
}

std::string ChildProcess::readAll(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (fill(output_, nullptr, deadline)) {
    }
    return std::exchange(outputBuffer_, {});
}

std::string ChildProcess::readError(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string text;
    while (fill(error_, &text, deadline)) {
    }
    return text;
}

void ChildProcess::write(const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(input_, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        written += static_cast<std::size_t>(n);
    }
}

void ChildProcess::closeInput() { closeFd(input_); }
void ChildProcess::closeOutput() { closeFd(output_); }

bool ChildProcess::awaitOutput(std::chrono::milliseconds timeout) {
    if (!outputBuffer_.empty()) return true;
    pollfd p{output_, POLLIN, 0};
    return output_ >= 0 && ::poll(&p, 1, static_cast<int>(timeout.count())) > 0;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout, bool reading) {
    if (status_) return status_;
    awaitOrphaned();
    // A pid file descriptor becomes readable when the process ends; an orphaned
    // sampler has been adopted by this process (a subreaper), so it can be reaped.
    // Output keeps being read meanwhile, and stays readable: a process still
    // writing snapshots before it takes its "quit" would otherwise block on a
    // full pipe and never end, which a slow build (a sanitizer's) makes likely.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd >= 0) {
        const auto deadline = Clock::now() + timeout;
        bool outputOpen = reading && output_ >= 0;
        for (;;) {
            pollfd p[2] = {{pidfd, POLLIN, 0}, {outputOpen ? output_ : -1, POLLIN, 0}};
            const int ready = ::poll(p, 2, remainingMS(deadline));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0 || p[0].revents != 0) break;
            char chunk[65536];
            const ssize_t n = ::read(output_, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) outputOpen = false;
            if (n > 0) received(chunk, static_cast<std::size_t>(n));
        }
        ::close(pidfd);
    }
    int raw = 0;
    if (::waitpid(pid_, &raw, WNOHANG) != pid_) return std::nullopt;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
    return status_;
}

}  // namespace scene::testing
