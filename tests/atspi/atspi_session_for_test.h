#pragma once

// An accessibility session on the private X desktop: a D-Bus session bus of
// the test's own, the accessibility bus launcher on it with accessibility
// turned on the way a user's setting does, and the GTK test application
// with pipes on its standard streams.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/atspi/atspi_bus.h"
#include "x_session_for_test.h"

namespace scene::x11::testing {

inline constexpr const char* kBusLauncher = "/usr/libexec/at-spi-bus-launcher";

// A child with pipes on standard input and output that speaks in lines:
// the GTK test application. Closing its input ends it.
class LineChild {
public:
    LineChild(std::vector<std::string> argv, const std::vector<std::string>& environment) {
        int input[2];
        int output[2];
        if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) return;
        argv = endingWithTheTest(std::move(argv));
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
        env.insert(env.end(), environment.begin(), environment.end());
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(input[0]);
        close(output[1]);
        input_ = input[1];
        output_ = output[0];
    }
    ~LineChild() {
        if (input_ >= 0) close(input_);
        if (output_ >= 0) close(output_);
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    LineChild(const LineChild&) = delete;
    LineChild& operator=(const LineChild&) = delete;

    pid_t pid() const { return pid_; }
    void write(const std::string& line) {
        const std::string text = line + "\n";
        if (::write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return;
    }
    // The next line, or nothing at end of output or after `limit`.
    std::optional<std::string> readLine(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            if (const auto end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd ready{output_, POLLIN, 0};
            if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[65536];
            const ssize_t count = read(output_, chunk, sizeof chunk);
            if (count <= 0) return std::nullopt;
            buffer_.append(chunk, static_cast<std::size_t>(count));
        }
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string buffer_;
};

// Starts the session bus and the bus launcher after the X session, with
// accessibility on; skips without them or without GTK.
class AtspiSessionTest : public XSessionTest {
protected:
    void SetUp() override {
        XSessionTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (!installed("dbus-daemon") || !std::filesystem::exists(kBusLauncher))
            GTEST_SKIP() << "dbus-daemon and at-spi2-core are needed";
        if (Child({"/usr/bin/python3", "-c", "import gi; gi.require_version('Gtk', '3.0')"}, {}).wait() != 0)
            GTEST_SKIP() << "python3-gi and GTK 3 are needed";
        // The launcher puts the accessibility bus's socket in the runtime
        // directory: a private one keeps this session apart from any other.
        std::string pattern = (std::filesystem::temp_directory_path() / "scene-atspi-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        runtimeDirectory_ = pattern;
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        sessionBus_ = std::make_unique<Child>(
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1",
                                     "--address=unix:dir=" + runtimeDirectory_},
            std::vector<std::string>{}, fds[1]);
        close(fds[1]);
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') sessionAddress_ += c;
        close(fds[0]);
        ASSERT_FALSE(sessionAddress_.empty()) << "the session bus did not start";
        launcher_ = std::make_unique<Child>(std::vector<std::string>{kBusLauncher}, environment());
        session_ = atspi::AtspiBus::open(sessionAddress_);
        ASSERT_TRUE(session_);
        // The launcher is up once it answers for its name.
        ASSERT_TRUE(eventually([&] {
            return session_->call({"org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"}, 1.0).ok();
        }));
        ASSERT_TRUE(enable(true));
    }
    void TearDown() override {
        app_.reset();
        session_.reset();
        launcher_.reset();
        sessionBus_.reset();
        if (!runtimeDirectory_.empty()) std::filesystem::remove_all(runtimeDirectory_);
        XSessionTest::TearDown();
    }

    // What a client of this session needs in its environment. The settings
    // stay in memory, never in the account's own.
    std::vector<std::string> environment() const {
        return {displayVariable(), "DBUS_SESSION_BUS_ADDRESS=" + sessionAddress_,
                "XDG_RUNTIME_DIR=" + runtimeDirectory_, "GSETTINGS_BACKEND=memory"};
    }

    // Turns accessibility on or off as the user's setting does.
    bool enable(bool on) {
        return session_
            ->call({"org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                    g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(on ? TRUE : FALSE))},
                   1.0)
            .ok();
    }

    // Starts the test application and reads its first report.
    nlohmann::json startApp(const std::vector<std::string>& arguments = {}) {
        std::vector<std::string> argv{"/usr/bin/python3", SCENE_SAMPLER_ATSPI_TEST_APP};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        app_ = std::make_unique<LineChild>(argv, environment());
        return report();
    }
    // Sends one command and reads the report after it.
    nlohmann::json tell(const std::string& command) {
        app_->write(command);
        return report();
    }
    nlohmann::json report() {
        const auto line = app_->readLine();
        EXPECT_TRUE(line) << "the test application did not report";
        return line ? nlohmann::json::parse(*line) : nlohmann::json::object();
    }

    std::string runtimeDirectory_;
    std::string sessionAddress_;
    std::unique_ptr<Child> sessionBus_;
    std::unique_ptr<Child> launcher_;
    std::shared_ptr<atspi::AtspiBus> session_;
    std::unique_ptr<LineChild> app_;
};

}  // namespace scene::x11::testing
