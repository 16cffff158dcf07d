#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/asio_runtime.h"
#include "platform/x11/x11_platform.h"

extern char** environ;

namespace scene::x11 {
namespace {

bool installed(const std::string& program) {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"})
        if (std::filesystem::exists(std::string(dir) + "/" + program)) return true;
    return false;
}

// A child process, ended when the test ends.
class Child {
public:
    Child(std::vector<std::string> argv, const std::vector<std::string>& extraEnvironment, int stdoutFd = -1) {
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
        env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// Polls `condition` until it holds or the deadline passes; each poll is a
// round trip to the server, so the loop waits on the server, not on a timer.
bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline)
        if (condition()) return true;
    return false;
}

class X11DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!installed("Xvfb") || !installed("openbox")) GTEST_SKIP() << "Xvfb and openbox are needed";
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        // Xvfb picks a free display number and writes it to the pipe once ready.
        server_ = std::make_unique<Child>(std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]),
                                                                   "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
                                          std::vector<std::string>{});
        close(fds[1]);
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        ASSERT_FALSE(number.empty()) << "Xvfb did not start";
        display_ = ":" + number;
        manager_ = std::make_unique<Child>(std::vector<std::string>{"openbox"},
                                           std::vector<std::string>{"DISPLAY=" + display_});
        connection_ = xcb_connect(display_.c_str(), nullptr);
        ASSERT_EQ(xcb_connection_has_error(connection_), 0);
        ASSERT_EQ(xcb_ewmh_init_atoms_replies(&ewmh_, xcb_ewmh_init_atoms(connection_, &ewmh_), nullptr), 1);
        // The manager is up once it names itself on the root.
        ASSERT_TRUE(eventually([&] {
            xcb_window_t check = 0;
            return xcb_ewmh_get_supporting_wm_check_reply(
                       &ewmh_, xcb_ewmh_get_supporting_wm_check(&ewmh_, ewmh_.screens[0]->root), &check, nullptr) != 0;
        }));
        runtime_ = std::make_unique<AsioRuntime>();
        platform_ = X11Platform::open(display_, *runtime_);
        ASSERT_TRUE(platform_);
    }
    void TearDown() override {
        platform_.reset();
        if (connection_ != nullptr) {
            xcb_ewmh_connection_wipe(&ewmh_);
            xcb_disconnect(connection_);
        }
    }

    std::unique_ptr<Child> server_;
    std::unique_ptr<Child> manager_;
    std::string display_;
    xcb_connection_t* connection_ = nullptr;
    xcb_ewmh_connection_t ewmh_{};
    std::unique_ptr<AsioRuntime> runtime_;
    std::unique_ptr<X11Platform> platform_;
};

TEST_F(X11DesktopTest, ListsAClientWithItsOwnerAndFramedBoundsAndMakesItFront) {
    if (!installed("xterm")) GTEST_SKIP() << "xterm is needed";
    Child client({"xterm", "-geometry", "80x24+100+100"}, {"DISPLAY=" + display_});
    ASSERT_GT(client.pid(), 0);
    auto& server = platform_->windowServer();
    std::shared_ptr<const nlohmann::json> list;
    ASSERT_TRUE(eventually([&] {
        list = server.copyWindowList();
        for (const auto& entry : *list)
            if (entry.value("kCGWindowOwnerPID", 0) == client.pid()) return true;
        return false;
    }));
    for (const auto& entry : *list) {
        if (entry.value("kCGWindowOwnerPID", 0) != client.pid()) continue;
        EXPECT_EQ(entry["kCGWindowLayer"], kNormalLevel);
        EXPECT_GT(entry["kCGWindowBounds"]["Width"].get<double>(), 0.0);
        EXPECT_TRUE(entry["kCGWindowBounds"]["X"].is_number_float());
    }
    auto& workspace = platform_->workspace();
    EXPECT_TRUE(eventually([&] {
        const auto front = workspace.frontmostApplication();
        return front && front->processIdentifier == client.pid() && front->bundleIdentifier == "XTerm";
    }));
    EXPECT_TRUE(workspace.bundlePath(client.pid()));
}

TEST_F(X11DesktopTest, DisplaysComeFromTheServerMonitors) {
    auto& server = platform_->windowServer();
    const auto displays = server.activeDisplayList(8);
    ASSERT_TRUE(displays);
    ASSERT_EQ(displays->size(), 1u);
    EXPECT_EQ(server.displayBounds(displays->front()), (Rect{0, 0, 1280, 800}));
    EXPECT_TRUE(server.displayIsActive(displays->front()));
    EXPECT_TRUE(server.displayUUID(displays->front()));
    EXPECT_EQ(server.sessionDictionary(),
              (nlohmann::json{{"CGSSessionScreenIsLocked", false}, {"kCGSSessionOnConsoleKey", true}}));
}

}  // namespace
}  // namespace scene::x11
