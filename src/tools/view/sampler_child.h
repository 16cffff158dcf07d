#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scene::view {

// The scene-sampler process this viewer started, the way a companion starts it:
// commands go to its standard input, lines come from its standard output, and
// its standard error is this process's, so its own start-up complaint reaches
// the user unchanged. It runs in its own process group, so a Ctrl-C at the
// terminal reaches only the viewer, which then quits it cleanly. Owned and used
// by the viewer's loop on one thread.
class SamplerChild {
public:
    struct Started {
        std::unique_ptr<SamplerChild> child;
        std::string error;  // set when there is no child
    };
    // How the process ended: its exit status, or minus the signal that ended it.
    struct Ending {
        int status = 0;
        bool forced = false;  // it did not quit when asked and was signalled
    };

    // Starts `path` with `arguments` (the words after the program path) and the
    // inherited environment.
    static Started start(const std::string& path, const std::vector<std::string>& arguments);

    ~SamplerChild();
    SamplerChild(const SamplerChild&) = delete;
    SamplerChild& operator=(const SamplerChild&) = delete;

    pid_t pid() const { return pid_; }
    // Readable when there is output (or its end) to collect with `readLines`.
    int outputDescriptor() const { return output_; }

    // Reads once (the descriptor should be readable) and appends every line
    // completed so far, without its line feed. False at the end of output.
    bool readLines(std::vector<std::string>& lines);

    // Writes the command and a line feed; false when the process no longer
    // reads its input.
    bool send(std::string_view command);
    void closeInput();

    // Waits up to `timeout` for the process to end; nothing while it still runs.
    // Output arriving meanwhile is read and dropped.
    std::optional<int> wait(std::chrono::milliseconds timeout);

    // "quit", then the end of input; a process that does not end within
    // `patience` is terminated, and killed a second later.
    Ending stop(std::chrono::milliseconds patience);

private:
    SamplerChild(pid_t pid, int input, int output) : pid_(pid), input_(input), output_(output) {}
    bool reap(int options);  // waitpid; records the status when the process has ended

    pid_t pid_;
    int input_;
    int output_;
    std::string pending_;  // output after the last line feed
    std::optional<int> status_;
};

}  // namespace scene::view
