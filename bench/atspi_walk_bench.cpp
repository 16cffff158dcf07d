// One controls walk, and one inputs walk, of a real GTK 3 window of about 300
// widgets through accessibility over AT-SPI: the test application of
// tests/atspi with a grid of 240 widgets under its own Xvfb, openbox, session
// bus and accessibility bus. Each iteration is a walk as the sampler makes
// it, 0.16 s after the one before: of a window that holds still (what the
// application said before is still good), and of one whose list scrolled
// since (the walk reads again where what the list holds is now). Every two
// seconds a walk reads the whole application anew all the same: those are
// the slow ones. `median_ms` is the median walk. Without the programs the
// benchmarks report that they were skipped.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "accessibility/control_sampler.h"
#include "platform/asio_runtime.h"
#include "platform/atspi/atspi_accessibility.h"
#include "platform/json_read.h"
#include "platform/x11/x11_desktop.h"
#include "platform/x11/x11_screen_capture.h"
#include "platform/x11/x11_window_server.h"
#include "platform/x11/x11_workspace.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using scene::Json;

// A child that the system ends when this process ends, however it ends;
// `output`, when given, receives its standard output.
pid_t spawn(std::vector<std::string> argv, const std::vector<std::string>& extraEnvironment, int output = -1,
            int input = -1) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    if (output >= 0) dup2(output, STDOUT_FILENO);
    if (input >= 0) dup2(input, STDIN_FILENO);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
}

std::string firstLine(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

// Xvfb, openbox, a session bus with the accessibility bus launcher on it
// (accessibility on) and the test application; all ended with the object.
class Session {
public:
    Session() {
        for (const char* program : {"/usr/bin/Xvfb", "/usr/bin/openbox", "/usr/bin/dbus-daemon",
                                    "/usr/libexec/at-spi-bus-launcher", "/usr/bin/python3"})
            if (!std::filesystem::exists(program)) return;
        std::string pattern = (std::filesystem::temp_directory_path() / "scene-atspi-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) return;
        runtimeDirectory_ = pattern;
        int fds[2];
        if (pipe(fds) != 0) return;
        children_.push_back(spawn(
            {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1600x1000x24", "-nolisten", "tcp"}, {}));
        close(fds[1]);
        display = ":" + firstLine(fds[0]);
        close(fds[0]);
        children_.push_back(spawn({"openbox"}, {"DISPLAY=" + display}));
        if (pipe(fds) != 0) return;
        children_.push_back(spawn(
            {"dbus-daemon", "--session", "--nofork", "--print-address=1", "--address=unix:dir=" + runtimeDirectory_},
            {}, fds[1]));
        close(fds[1]);
        sessionBus = firstLine(fds[0]);
        close(fds[0]);
        const std::vector<std::string> environment{"DISPLAY=" + display, "DBUS_SESSION_BUS_ADDRESS=" + sessionBus,
                                                   "XDG_RUNTIME_DIR=" + runtimeDirectory_, "GSETTINGS_BACKEND=memory"};
        children_.push_back(spawn({"/usr/libexec/at-spi-bus-launcher"}, environment));
        auto session = scene::atspi::AtspiBus::open(sessionBus);
        if (!session) return;
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        bool enabled = false;
        while (!enabled && Clock::now() < deadline) {
            enabled = session
                          ->call({"org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                                  g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE))},
                                 1.0)
                          .ok();
        }
        if (!enabled) return;
        int output[2];
        int input[2];
        if (pipe(output) != 0 || pipe(input) != 0) return;
        app = spawn({"/usr/bin/python3", SCENE_SAMPLER_ATSPI_TEST_APP, "--grid", "240"}, environment, output[1],
                    input[0]);
        children_.push_back(app);
        close(output[1]);
        close(input[0]);
        appInput_ = input[1];
        appOutput_ = fdopen(output[0], "r");
        ready = appOutput_ != nullptr && report();
    }
    ~Session() {
        if (appInput_ >= 0) close(appInput_);
        if (appOutput_ != nullptr) fclose(appOutput_);
        for (auto child = children_.rbegin(); child != children_.rend(); ++child) {
            kill(*child, SIGTERM);
            waitpid(*child, nullptr, 0);
        }
        if (!runtimeDirectory_.empty()) std::filesystem::remove_all(runtimeDirectory_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Sends the application a command and waits for its report.
    void tell(const std::string& command) {
        const std::string line = command + "\n";
        if (write(appInput_, line.data(), line.size()) == static_cast<ssize_t>(line.size())) report();
    }

    bool ready = false;
    std::string display;
    std::string sessionBus;
    pid_t app = -1;

private:
    std::string runtimeDirectory_;
    std::vector<pid_t> children_;
    int appInput_ = -1;
    FILE* appOutput_ = nullptr;

    // Reads the application's next report, whole.
    bool report() {
        char* line = nullptr;
        std::size_t room = 0;
        const bool read = getline(&line, &room, appOutput_) > 0;
        std::free(line);
        return read;
    }
};

// The X back-end with accessibility over the session's bus.
class BenchPlatform final : public scene::Platform {
public:
    BenchPlatform(std::shared_ptr<scene::x11::X11Desktop> desktop, scene::Runtime& runtime, const Session& session)
        : windowServer_(desktop, runtime, session.display),
          workspace_(desktop, runtime, session.display),
          accessibility_(runtime, windowServer_, session.sessionBus),
          screenCapture_(runtime, session.display) {}
    scene::WindowServer& windowServer() override { return windowServer_; }
    scene::Workspace& workspace() override { return workspace_; }
    scene::Accessibility& accessibility() override { return accessibility_; }
    scene::ScreenCapture& screenCapture() override { return screenCapture_; }

private:
    scene::x11::X11WindowServer windowServer_;
    scene::x11::X11Workspace workspace_;
    scene::atspi::AtspiAccessibility accessibility_;
    scene::x11::X11ScreenCapture screenCapture_;
};

// Window records as the pass makes them, enough for the walk's matching.
scene::Records records(scene::WindowServer& windowServer) {
    scene::Records found;
    const auto list = windowServer.copyWindowList();
    for (const auto& entry : *list) {
        const auto pid = scene::json_read::int32(entry, "kCGWindowOwnerPID");
        const auto number = scene::json_read::integer(entry, "kCGWindowNumber");
        const auto* boundsEntry = scene::json_read::member(entry, "kCGWindowBounds");
        const auto bounds = boundsEntry != nullptr ? scene::json_read::windowBounds(*boundsEntry) : std::nullopt;
        if (!pid || !number || !bounds) continue;
        found.push_back(Json{{"id", std::to_string(*pid) + ":" + std::to_string(*number)},
                             {"pid", *pid},
                             {"x", bounds->minX()},
                             {"y", bounds->minY()},
                             {"width", bounds->absWidth()},
                             {"height", bounds->absHeight()}});
    }
    return found;
}

// `changing`: before each walk the list scrolls, so that the walk cannot
// take the list's rows from what it kept.
void walk(benchmark::State& state, bool inputsOnly, bool changing) {
    Session session;
    if (!session.ready) {
        state.SkipWithError("Xvfb, openbox, dbus-daemon, at-spi2-core and python3-gi with GTK 3 are needed");
        return;
    }
    scene::AsioRuntime runtime;
    auto desktop = scene::x11::X11Desktop::open(session.display, runtime.clock());
    BenchPlatform platform(desktop, runtime, session);
    scene::ControlSampler sampler(platform, runtime, inputsOnly ? "input" : "ax");
    // The application is ready once a walk finds what it shows.
    scene::ControlSampler::ScanResult result;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (result.status != "ready" && Clock::now() < deadline)
        result = sampler.scan(session.app, records(platform.windowServer()), "1:1:x", std::nullopt, inputsOnly);
    if (result.status != "ready") {
        state.SkipWithError(("the walk never found the application's controls: " + result.status).c_str());
        return;
    }
    const scene::Records windows = records(platform.windowServer());
    std::size_t items = 0;
    std::vector<double> seconds;
    for (auto _ : state) {
        if (changing) session.tell("scroll");
        // As far apart as the sampler's walks are at their closest.
        std::this_thread::sleep_for(std::chrono::milliseconds(160));
        const auto start = Clock::now();
        result = sampler.scan(session.app, windows, "1:1:x", std::nullopt, inputsOnly);
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(took);
        seconds.push_back(took);
        items = result.items.size();
    }
    std::sort(seconds.begin(), seconds.end());
    state.counters["median_ms"] = seconds.empty() ? 0 : seconds[seconds.size() / 2] * 1000;
    state.counters["items"] = static_cast<double>(items);
}

void controlsWalk(benchmark::State& state) { walk(state, false, false); }
void inputsWalk(benchmark::State& state) { walk(state, true, false); }
void controlsWalkAfterAChange(benchmark::State& state) { walk(state, false, true); }
void inputsWalkAfterAChange(benchmark::State& state) { walk(state, true, true); }

BENCHMARK(controlsWalk)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(40);
BENCHMARK(inputsWalk)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(40);
BENCHMARK(controlsWalkAfterAChange)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(40);
BENCHMARK(inputsWalkAfterAChange)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(40);

}  // namespace

BENCHMARK_MAIN();
