#pragma once

// A private X desktop for tests: an Xvfb server with openbox on it, and a
// connection of the test's own to drive and inspect it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace scene::x11::testing {

inline bool installed(const std::string& program) {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"})
        if (std::filesystem::exists(std::string(dir) + "/" + program)) return true;
    return false;
}

// `argv` started through setpriv, so that the child is sent SIGTERM when the
// test process ends without running its destructors (a sanitizer's abort, the
// kill of a test that timed out) and no server outlives its test. The signal
// comes when the thread that started the child ends: start children on the
// test's own thread.
inline std::vector<std::string> endingWithTheTest(std::vector<std::string> argv) {
    constexpr const char* kSetpriv = "/usr/bin/setpriv";
    if (!std::filesystem::exists(kSetpriv)) return argv;
    argv.insert(argv.begin(), {kSetpriv, "--pdeathsig", "TERM", "--"});
    return argv;
}

// A child process, ended when the test ends.
class Child {
public:
    Child(std::vector<std::string> argv, const std::vector<std::string>& extraEnvironment, int stdoutFd = -1) {
        argv = endingWithTheTest(std::move(argv));
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
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    pid_t pid() const { return pid_; }
    // Waits for the child to end: its exit status, or -1 when it could not
    // start or died by a signal.
    int wait() {
        if (pid_ <= 0) return -1;
        int status = 0;
        const bool exited = waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status);
        pid_ = -1;
        return exited ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
};

// Polls `condition` until it holds or the deadline passes; each poll is a
// round trip to the server, so the loop waits on the server, not on a timer.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::steady_clock::duration limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline)
        if (condition()) return true;
    return false;
}

// The window manager lists `window` among its clients.
inline bool isManaged(xcb_ewmh_connection_t& ewmh, xcb_window_t window) {
    xcb_ewmh_get_windows_reply_t clients;
    if (xcb_ewmh_get_client_list_reply(&ewmh, xcb_ewmh_get_client_list(&ewmh, 0), &clients, nullptr) == 0) return false;
    const bool managed = std::find(clients.windows, clients.windows + clients.windows_len, window) !=
                         clients.windows + clients.windows_len;
    xcb_ewmh_get_windows_reply_wipe(&clients);
    return managed;
}

// Waits until the window manager takes new windows. It names itself on the
// root before it handles map requests, and a window mapped in between may
// never be managed; so a probe window is mapped again until the manager lists
// it, then destroyed. False when the manager never takes it.
inline bool awaitManager(xcb_ewmh_connection_t& ewmh) {
    xcb_connection_t* connection = ewmh.connection;
    xcb_screen_t* screen = ewmh.screens[0];
    const xcb_window_t probe = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    bool managed = false;
    for (int attempt = 0; attempt < 40 && !managed; ++attempt) {
        xcb_map_window(connection, probe);
        xcb_flush(connection);
        managed = eventually([&] { return isManaged(ewmh, probe); }, std::chrono::milliseconds(250));
    }
    xcb_destroy_window(connection, probe);
    xcb_flush(connection);
    return managed && eventually([&] { return !isManaged(ewmh, probe); });
}

// A display number no server on this machine has, away from the low ones
// that servers looking for a free number take first, so that it stays free
// while its server is down for a moment.
inline std::string privateDisplay() {
    for (int number = 200 + getpid() % 400;; ++number)
        if (!std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock") &&
            !std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number)))
            return ":" + std::to_string(number);
}

// Starts Xvfb (1280 x 800 unless told otherwise) and openbox in SetUp, waits
// until openbox takes windows, and skips the test when either is missing.
class XSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!installed("Xvfb") || !installed("openbox")) GTEST_SKIP() << "Xvfb and openbox are needed";
        startDesktop(requestedDisplay_);
    }
    void TearDown() override { disconnect(); }

    // Xvfb on `display` (a free one when empty) with openbox on it, and the
    // test's connection to it.
    void startDesktop(const std::string& display = "") {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        // Xvfb writes its display number to the pipe once ready.
        std::vector<std::string> argv{"Xvfb"};
        if (!display.empty()) argv.push_back(display);
        argv.insert(argv.end(),
                    {"-displayfd", std::to_string(fds[1]), "-screen", "0", screenSize_, "-nolisten", "tcp"});
        server_ = std::make_unique<Child>(std::move(argv), std::vector<std::string>{});
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
        ASSERT_TRUE(awaitManager(ewmh_));
    }
    // Ends the server as a crash would for its clients (the manager goes
    // with it), then the test's connection.
    void stopDesktop() {
        server_.reset();
        manager_.reset();
        disconnect();
    }
    void disconnect() {
        if (connection_ == nullptr) return;
        xcb_ewmh_connection_wipe(&ewmh_);
        xcb_disconnect(connection_);
        connection_ = nullptr;
    }

    // The environment entry that points a client at this desktop.
    std::string displayVariable() const { return "DISPLAY=" + display_; }

    std::string screenSize_ = "1280x800x24";  // set before SetUp for another size
    std::string requestedDisplay_;            // set before SetUp for a given display
    std::unique_ptr<Child> server_;
    std::unique_ptr<Child> manager_;
    std::string display_;
    xcb_connection_t* connection_ = nullptr;
    xcb_ewmh_connection_t ewmh_{};
};

}  // namespace scene::x11::testing
