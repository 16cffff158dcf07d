#pragma once

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace scene::testing {

// How many times slower than a plain build a sanitizer build runs the binary.
// Deadlines that bound how long something may take are stretched by it: they
// are there to catch a sampler that never gets there, not to time it.
// The build says how much (5 under a sanitizer, else 1).
inline constexpr int kBuildSlowdown = SCENE_SAMPLER_TEST_SLOWDOWN;

// The scene-sampler binary started with pipes on its standard streams. Reads
// wait on poll with a deadline; nothing sleeps.
class ChildProcess {
public:
    struct Options {
        std::vector<std::string> arguments = {};                            // after the program path
        std::vector<std::pair<std::string, std::string>> environment = {};  // added to a clean environment
        // Start the binary from an intermediate process that exits when told
        // (awaitOrphaned), so the sampler loses its parent; the test adopts it
        // as subreaper.
        bool orphan = false;
        // With `orphan`: the intermediate's pid goes last on the command line,
        // as a companion passes its own, so the lost parent is also an
        // excluded process.
        bool parentPidArgument = false;
        // Standard descriptors (0, 1, 2) the binary starts with closed.
        std::vector<int> closed = {};
        // Room of the standard-output pipe in bytes (at least a page); 0 keeps
        // the system's default.
        int outputPipeBytes = 0;
        // Standard output is the protocol's lines, kept for the check against
        // its schemas; false for what is not (the usage text, the version).
        bool protocolLines = true;
    };

    explicit ChildProcess(const Options& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Lets the intermediate process of an orphaned start exit, and waits for it.
    void awaitOrphaned();

    // The next complete line of standard output, or nothing at end of output
    // or when `timeout` passes.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Every line that arrives within `duration`.
    std::vector<std::string> readLinesFor(std::chrono::milliseconds duration);
    // Reads until every writer of standard output has closed it: true at end of
    // output, false when `timeout` passes first. What was read stays readable.
    bool awaitOutputEnd(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // All remaining output until the process closes it.
    std::string readAll(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    std::string readError(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    void write(const std::string& bytes);
    void closeInput();
    void closeOutput();  // stops reading the child's standard output

    // Exit status, or -(signal number) when it died by a signal; nothing on
    // time-out. Standard output is read meanwhile, unless `reading` is false,
    // which leaves a writer that is stuck on a full pipe stuck.
    std::optional<int> wait(std::chrono::milliseconds timeout = std::chrono::seconds(5), bool reading = true);
    // Waits until standard output has something to read.
    bool awaitOutput(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    // One read of `fd` into `buffer`, or, when it is null, of standard output.
    bool fill(int fd, std::string* buffer, std::chrono::steady_clock::time_point deadline);
    void received(const char* bytes, std::size_t count);

    pid_t pid_ = -1;
    pid_t intermediate_ = -1;
    int release_ = -1;
    int input_ = -1;
    int output_ = -1;
    int error_ = -1;
    std::string outputBuffer_;
    std::optional<int> status_;
    // Every whole line of standard output also goes to a file of the run's
    // sampler-lines directory, which CTest checks against the protocol's
    // schemas once the tests are done.
    std::ofstream record_;
    std::string unrecorded_;  // received after the last whole line
};

// Path of the built binary and of the test scenes, from the build.
std::string samplerPath();
std::string sceneFile(const std::string& name);
// Writes `text` to a file of that name, for this test process alone, in the
// temporary directory, and returns its path.
std::string writeTempFile(const std::string& name, const std::string& text);

}  // namespace scene::testing
