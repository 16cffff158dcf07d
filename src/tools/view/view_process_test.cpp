// Runs the built scene-view against the real scene-sampler on the simulated
// desktop and checks what a user would: the exit status, the message, the
// picture, and that no sampler is left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/view/xml_check_for_test.h"

namespace scene::view {
namespace {

using testing::findAll;
using testing::parseXml;

struct ViewRun {
    std::optional<int> status;  // nothing: still running at the deadline (then killed)
    std::string errors;
};

std::string readFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// scene-view started with a clean environment (so no capture switch leaks in
// from outside) and its standard error in a file.
class ViewProcess {
public:
    explicit ViewProcess(const std::vector<std::string>& arguments) {
        std::vector<std::string> words{SCENE_VIEW_BINARY};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        char* envp[] = {nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(spawned, 0);
        if (spawned != 0) pid_ = -1;
    }

    void signal(int number) { ::kill(pid_, number); }

    // Waits with a pid descriptor until it ends or the deadline passes (then
    // kills it and reports no status).
    ViewRun finish(std::chrono::seconds deadline = std::chrono::seconds(30)) {
        ViewRun run;
        if (pid_ < 0) return run;
        const int process = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        if (process >= 0) {
            pollfd ready{process, POLLIN, 0};
            ::poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(deadline).count()));
            ::close(process);
        }
        int raw = 0;
        if (::waitpid(pid_, &raw, process >= 0 ? WNOHANG : 0) == pid_) {
            run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
        } else {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
        run.errors = readFile(errorPath_);
        return run;
    }

    ~ViewProcess() {
        finish(std::chrono::seconds(0));
        std::remove(errorPath_.c_str());
    }

private:
    const std::string errorPath_ = ::testing::TempDir() + std::to_string(::getpid()) + "-view-stderr.txt";
    pid_t pid_ = -1;
};

ViewRun runView(const std::vector<std::string>& arguments) { return ViewProcess(arguments).finish(); }

// Waits, without sleeping, until a file of this name is renamed into `directory`.
bool awaitFile(const std::string& directory, const std::string& name, std::chrono::seconds deadline) {
    const int watch = ::inotify_init1(IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, directory.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0) return false;
    const auto until = std::chrono::steady_clock::now() + deadline;
    bool found = std::ifstream(directory + "/" + name).good();
    while (!found && std::chrono::steady_clock::now() < until) {
        pollfd ready{watch, POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (::poll(&ready, 1, static_cast<int>(std::max<long long>(0, left.count()))) <= 0) break;
        alignas(inotify_event) char events[4096];
        const ssize_t n = ::read(watch, events, sizeof events);
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->len > 0 && name == event->name) found = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ::close(watch);
    return found;
}

// This test process adopts orphans, so a sampler that scene-view left running
// (or did not reap) would become our child. None may exist.
void adoptOrphans() { ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0); }

bool noProcessLeft() {
    errno = 0;
    return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

// Test runs on a shared machine share the temporary directory: names carry
// this process's id.
std::string temporary(const std::string& name) {
    return ::testing::TempDir() + std::to_string(::getpid()) + "-" + name;
}

std::string testScene(const std::string& name) { return std::string(SCENE_SAMPLER_TEST_SCENES) + "/" + name; }

TEST(ViewProcessTest, DrawsTheDemoDesktopOverItsFrameAndQuitsTheSampler) {
    adoptOrphans();
    const std::string out = temporary("demo-view.svg");
    std::remove(out.c_str());
    const ViewRun run =
        runView({"--out", out, "--after", "0.5", "--", "--platform", "simulated", "--allow-screen-capture", "--visual"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    EXPECT_TRUE(noProcessLeft());

    std::string error;
    const auto root = parseXml(readFile(out), &error);
    ASSERT_TRUE(root) << error;
    const auto desktop = findAll(*root, "svg", "desktop");
    ASSERT_EQ(desktop.size(), 1u);
    EXPECT_EQ(desktop[0]->attribute("viewBox"), "0 0 1440 900");
    EXPECT_EQ(findAll(*root, "image").size(), 1u);
    const auto outlines = findAll(*root, "rect", "window");
    const auto writer = std::find_if(outlines.begin(), outlines.end(),
                                     [](const auto* outline) { return outline->attribute("data-id") == "412:8731"; });
    ASSERT_NE(writer, outlines.end());
    EXPECT_EQ((*writer)->attribute("x"), "120");
    EXPECT_EQ((*writer)->attribute("width"), "760");
    EXPECT_TRUE((*writer)->hasClass("focused"));
    EXPECT_EQ(findAll(*root, "rect", "dock").size(), 1u);
    std::remove(out.c_str());
}

TEST(ViewProcessTest, SeriesKeepsNumberingPicturesUntilTerminated) {
    adoptOrphans();
    const std::string directory = temporary("view-series");
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);
    ViewProcess view({"--every", "0.2", "--out-dir", directory, "--after", "0", "--", "--allow-screen-capture"});
    ASSERT_TRUE(awaitFile(directory, "view-0002.svg", std::chrono::seconds(20)));
    view.signal(SIGTERM);
    const ViewRun run = view.finish();
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_TRUE(noProcessLeft());
    for (const char* name : {"view-0001.svg", "view-0002.svg"}) {
        std::string error;
        EXPECT_TRUE(parseXml(readFile(directory + "/" + name), &error)) << name << ": " << error;
    }
    std::filesystem::remove_all(directory);
}

TEST(ViewProcessTest, OnceDrawsTheSinglePassWithoutAFrame) {
    adoptOrphans();
    const std::string out = temporary("once-view.svg");
    const ViewRun run = runView({"--once", "--out", out, "--", "--scene", testScene("basic.json")});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_TRUE(noProcessLeft());
    const auto root = parseXml(readFile(out));
    ASSERT_TRUE(root);
    EXPECT_TRUE(findAll(*root, "image").empty());
    EXPECT_FALSE(findAll(*root, "rect", "window").empty());
    std::remove(out.c_str());
}

TEST(ViewProcessTest, SaysWhyThereIsNoPicture) {
    adoptOrphans();
    const std::string out = temporary("never.svg");
    std::remove(out.c_str());

    // The sampler refuses its scene and ends at once; its own line comes through.
    const ViewRun refused = runView({"--out", out, "--", "--scene", testScene("invalid_unknown_action.json")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.errors.find("exited early with status 2"), std::string::npos) << refused.errors;
    EXPECT_NE(refused.errors.find("invalid_unknown_action.json"), std::string::npos) << refused.errors;

    // Capture is off without its switch: every request is refused until the
    // deadline, which a sanitizer build's slow start must not outrun.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const std::string frameTimeout = "3";
#else
    const std::string frameTimeout = "0.6";
#endif
    const ViewRun disabled = runView({"--out", out, "--after", "0", "--frame-timeout", frameTimeout});
    EXPECT_EQ(disabled.status, 1);
    EXPECT_NE(disabled.errors.find("no JPEG frame within " + frameTimeout + " s"), std::string::npos)
        << disabled.errors;
    EXPECT_NE(disabled.errors.find("--allow-screen-capture"), std::string::npos) << disabled.errors;

    const ViewRun missing = runView({"--out", out, "--sampler", "/nonexistent/scene-sampler"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.errors.find("cannot start /nonexistent/scene-sampler"), std::string::npos) << missing.errors;

    const ViewRun usage = runView({"--out", out, "--visual"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.errors.find("usage: scene-view"), std::string::npos) << usage.errors;

    EXPECT_FALSE(std::ifstream(out)) << "no picture is written on failure";
    EXPECT_TRUE(noProcessLeft());
}

}  // namespace
}  // namespace scene::view
