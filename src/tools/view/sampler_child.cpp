#include "tools/view/sampler_child.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

namespace scene::view {
namespace {

constexpr std::string_view kQuit = "quit";
constexpr std::chrono::milliseconds kKillGrace{1000};

void closeDescriptor(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

int decodeStatus(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw); }

// Spawn attributes: default signal handling and an empty mask whatever this
// process uses (it blocks SIGINT and SIGTERM to read them from a descriptor,
// and ignores SIGPIPE), and a process group of its own.
bool prepareAttributes(posix_spawnattr_t& attributes) {
    sigset_t empty, defaults;
    sigemptyset(&empty);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    return posix_spawnattr_setsigmask(&attributes, &empty) == 0 &&
           posix_spawnattr_setsigdefault(&attributes, &defaults) == 0 &&
           posix_spawnattr_setpgroup(&attributes, 0) == 0 &&
           posix_spawnattr_setflags(&attributes,
                                    POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP) == 0;
}

}  // namespace

SamplerChild::Started SamplerChild::start(const std::string& path, const std::vector<std::string>& arguments) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return {nullptr, std::string("cannot make a pipe: ") + std::strerror(errno)};
    if (::pipe2(out, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(in[0]);
        ::close(in[1]);
        return {nullptr, std::string("cannot make a pipe: ") + std::strerror(error)};
    }

    std::vector<std::string> words{path};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // dup2 clears close-on-exec on the copies; the originals close at exec.
    int result = posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    if (result == 0) result = posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (result == 0 && !prepareAttributes(attributes)) result = EINVAL;
    pid_t pid = -1;
    if (result == 0) result = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(in[0]);
    ::close(out[1]);
    if (result != 0) {
        ::close(in[1]);
        ::close(out[0]);
        return {nullptr, "cannot start " + path + ": " + std::strerror(result)};
    }
    return {std::unique_ptr<SamplerChild>(new SamplerChild(pid, in[1], out[0])), {}};
}

SamplerChild::~SamplerChild() {
    closeDescriptor(input_);
    closeDescriptor(output_);
    if (!status_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool SamplerChild::readLines(std::vector<std::string>& lines) {
    if (output_ < 0) return false;
    char chunk[65536];
    ssize_t n = 0;
    do {
        n = ::read(output_, chunk, sizeof chunk);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        closeDescriptor(output_);
        return false;
    }
    pending_.append(chunk, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1)
        lines.emplace_back(pending_, start, end - start);
    pending_.erase(0, start);
    return true;
}

bool SamplerChild::send(std::string_view command) {
    if (input_ < 0) return false;
    std::string text(command);
    text += '\n';
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(input_, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

void SamplerChild::closeInput() { closeDescriptor(input_); }

std::optional<int> SamplerChild::wait(std::chrono::milliseconds timeout) {
    if (status_) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // A process descriptor becomes readable when the process ends, so the wait
    // needs neither a signal handler nor a polling loop. Output is drained
    // meanwhile: a sampler blocked on a full pipe would never read "quit".
    const int process = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    while (!reap(WNOHANG)) {
        pollfd ready[2];
        nfds_t count = 0;
        if (process >= 0) ready[count++] = {process, POLLIN, 0};
        if (output_ >= 0) ready[count++] = {output_, POLLIN, 0};
        if (count == 0) {
            // No process descriptors (old kernels) and the output has ended:
            // the process is on its way out, reaping it waits briefly.
            reap(0);
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        if (::poll(ready, count, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        for (nfds_t i = 0; i < count; ++i) {
            if (ready[i].fd != output_ || ready[i].revents == 0) continue;
            std::vector<std::string> dropped;
            readLines(dropped);
        }
    }
    if (process >= 0) ::close(process);
    return status_;
}

bool SamplerChild::reap(int options) {
    int raw = 0;
    pid_t reaped = 0;
    do {
        reaped = ::waitpid(pid_, &raw, options);
    } while (reaped < 0 && errno == EINTR);
    if (reaped != pid_) return false;
    status_ = decodeStatus(raw);
    return true;
}

SamplerChild::Ending SamplerChild::stop(std::chrono::milliseconds patience) {
    send(kQuit);
    closeInput();
    if (const auto status = wait(patience)) return {*status, false};
    ::kill(pid_, SIGTERM);
    if (const auto status = wait(kKillGrace)) return {*status, true};
    ::kill(pid_, SIGKILL);
    reap(0);
    return {status_.value_or(-SIGKILL), true};
}

}  // namespace scene::view
