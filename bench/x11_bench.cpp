// The X back-end against real servers: one grab of a 1920 x 1080 monitor
// (through the shared segment, and through plain replies for comparison), and
// the window list and whole sampling passes with 40 client windows of another
// process under a window manager, idle and right after one of its windows
// moved. Each starts its own Xvfb (and openbox); without them the benchmarks
// report that they were skipped.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/scene_sampler.h"
#include "platform/asio_runtime.h"
#include "platform/pixel_pool.h"
#include "platform/x11/x11_capture_source.h"
#include "platform/x11/x11_platform.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

bool installed(const std::string& program) {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"})
        if (std::filesystem::exists(std::string(dir) + "/" + program)) return true;
    return false;
}

// A child that the system ends when this process ends, however it ends.
pid_t spawn(std::vector<std::string> argv, const std::vector<std::string>& extraEnvironment) {
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
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
}

void end(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// An Xvfb of the given screen size, optionally with openbox on it, ended
// with the object. `display` is empty when it could not be started.
class XServer {
public:
    XServer(const std::string& screen, bool manager) {
        if (!installed("Xvfb") || (manager && !installed("openbox"))) return;
        int fds[2];
        if (pipe(fds) != 0) return;
        server_ = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp"}, {});
        close(fds[1]);
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty()) return;
        display = ":" + number;
        if (manager) manager_ = spawn({"openbox"}, {"DISPLAY=" + display});
    }
    ~XServer() {
        end(manager_);
        end(server_);
    }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    std::string display;

private:
    pid_t server_ = -1;
    pid_t manager_ = -1;
};

// Client windows for the window manager to manage; `managed` maps them.
class ClientWindows {
public:
    ClientWindows(const std::string& display, int count)
        : connection_(display.empty() ? nullptr : xcb_connect(display.c_str(), nullptr)) {
        if (connection_ == nullptr || xcb_connection_has_error(connection_) != 0 ||
            xcb_ewmh_init_atoms_replies(&ewmh_, xcb_ewmh_init_atoms(connection_, &ewmh_), nullptr) == 0)
            return;
        ewmhReady_ = true;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        for (int i = 0; i < count; ++i) {
            const xcb_window_t id = xcb_generate_id(connection_);
            const std::uint32_t background = 0x404040u + static_cast<std::uint32_t>(i) * 0x030201u;
            const auto x = static_cast<std::int16_t>(20 + (i % 8) * 150);
            const auto y = static_cast<std::int16_t>(40 + (i / 8) * 130);
            xcb_create_window(connection_, XCB_COPY_FROM_PARENT, id, screen->root, x, y, 120, 80, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, &background);
            xcb_size_hints_t hints{};
            xcb_icccm_size_hints_set_position(&hints, 1, x, y);
            xcb_icccm_set_wm_normal_hints(connection_, id, &hints);
            xcb_ewmh_set_wm_pid(&ewmh_, id, static_cast<std::uint32_t>(getpid()));
            constexpr char kClass[] = "bench\0Bench";
            xcb_icccm_set_wm_class(connection_, id, sizeof kClass, kClass);
            windows_.push_back(id);
        }
        // A pop-up the other process moves, which no manager stands between.
        popUp_ = xcb_generate_id(connection_);
        const std::uint32_t values[] = {0x808080u, 1};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, popUp_, screen->root, 1300, 700, 100, 60, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(connection_, popUp_);
    }
    ~ClientWindows() {
        if (ewmhReady_) xcb_ewmh_connection_wipe(&ewmh_);
        if (connection_ != nullptr) xcb_disconnect(connection_);
    }
    ClientWindows(const ClientWindows&) = delete;
    ClientWindows& operator=(const ClientWindows&) = delete;

    // Maps them until the manager lists them all. It names itself on the root
    // before it takes windows, and a map request made in between is lost, so
    // windows it has not taken are asked again every half second.
    bool managed(Clock::duration limit) {
        if (!ewmhReady_) return false;
        const auto deadline = Clock::now() + limit;
        auto again = Clock::now();
        while (Clock::now() < deadline) {
            std::vector<xcb_window_t> listed;
            xcb_ewmh_get_windows_reply_t clients;
            if (xcb_ewmh_get_client_list_reply(&ewmh_, xcb_ewmh_get_client_list(&ewmh_, 0), &clients, nullptr) != 0) {
                listed.assign(clients.windows, clients.windows + clients.windows_len);
                xcb_ewmh_get_windows_reply_wipe(&clients);
            }
            std::vector<xcb_window_t> waiting;
            for (const xcb_window_t id : windows_)
                if (std::find(listed.begin(), listed.end(), id) == listed.end()) waiting.push_back(id);
            if (waiting.empty()) return true;
            if (Clock::now() >= again) {
                for (const xcb_window_t id : waiting) {
                    xcb_unmap_window(connection_, id);
                    xcb_map_window(connection_, id);
                }
                xcb_flush(connection_);
                again = Clock::now() + std::chrono::milliseconds(500);
            }
        }
        return false;
    }

    // Moves the pop-up by a pixel, to and fro, and returns once the server
    // has done it.
    void movePopUp() {
        moved_ = !moved_;
        const std::uint32_t x = moved_ ? 1301 : 1300;
        xcb_configure_window(connection_, popUp_, XCB_CONFIG_WINDOW_X, &x);
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }

private:
    xcb_connection_t* connection_;
    xcb_ewmh_connection_t ewmh_{};
    bool ewmhReady_ = false;
    std::vector<xcb_window_t> windows_;
    xcb_window_t popUp_ = XCB_WINDOW_NONE;
    bool moved_ = false;
};

// The client windows in a process of their own, as an application's would
// be (the sampler leaves its own windows out of the records), ended with the
// object. `pid` is -1 when the process could not be started.
class ClientProcess {
public:
    ClientProcess(const std::string& display, int count) {
        int commands[2], answers[2];
        if (display.empty() || pipe(commands) != 0) return;
        if (pipe(answers) != 0) {
            close(commands[0]);
            close(commands[1]);
            return;
        }
        const pid_t parent = getpid();
        pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(1);
            close(commands[1]);
            close(answers[0]);
            ClientWindows windows(display, count);
            const bool managed = windows.managed(std::chrono::seconds(30));
            // Each byte asks for a move of the pop-up, answered once it is made.
            char c;
            while (managed && read(commands[0], &c, 1) > 0) {
                windows.movePopUp();
                if (write(answers[1], &c, 1) != 1) break;
            }
            _exit(managed ? 0 : 1);
        }
        close(commands[0]);
        close(answers[1]);
        command_ = pid > 0 ? commands[1] : -1;
        answer_ = pid > 0 ? answers[0] : -1;
        if (pid <= 0) {
            close(commands[1]);
            close(answers[0]);
        }
    }
    ~ClientProcess() {
        if (command_ >= 0) close(command_);
        if (answer_ >= 0) close(answer_);
        if (pid > 0) waitpid(pid, nullptr, 0);
    }
    ClientProcess(const ClientProcess&) = delete;
    ClientProcess& operator=(const ClientProcess&) = delete;

    // False once the process is gone.
    bool movePopUp() const {
        char c = 'm';
        return write(command_, &c, 1) == 1 && read(answer_, &c, 1) == 1;
    }

    pid_t pid = -1;

private:
    int command_ = -1;
    int answer_ = -1;
};

// Whether the window list shows `count` windows of `pid` before the limit.
bool listsWindowsOf(scene::WindowServer& server, pid_t pid, std::size_t count, Clock::duration limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        std::size_t listed = 0;
        const auto list = server.copyWindowList();
        for (const auto& entry : *list)
            if (entry.value("kCGWindowOwnerPID", 0) == pid) ++listed;
        if (listed >= count) return true;
    }
    return false;
}

// Asks the manager to make the topmost client active, as a click would, and
// waits until it has: a desktop in use always has a front application. The
// manager may drop a request that comes while it is still settling the new
// windows, so it is asked again every half second.
bool activateTopClient(const std::string& display, scene::Workspace& workspace, pid_t pid) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    xcb_ewmh_connection_t ewmh{};
    if (xcb_connection_has_error(connection) != 0 ||
        xcb_ewmh_init_atoms_replies(&ewmh, xcb_ewmh_init_atoms(connection, &ewmh), nullptr) == 0) {
        xcb_disconnect(connection);
        return false;
    }
    bool active = false;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    auto again = Clock::now();
    while (!active && Clock::now() < deadline) {
        if (Clock::now() >= again) {
            xcb_ewmh_get_windows_reply_t stacking;
            if (xcb_ewmh_get_client_list_stacking_reply(&ewmh, xcb_ewmh_get_client_list_stacking(&ewmh, 0), &stacking,
                                                        nullptr) != 0) {
                if (stacking.windows_len > 0)
                    xcb_ewmh_request_change_active_window(&ewmh, 0, stacking.windows[stacking.windows_len - 1],
                                                          XCB_EWMH_CLIENT_SOURCE_TYPE_NORMAL, XCB_CURRENT_TIME,
                                                          XCB_WINDOW_NONE);
                xcb_ewmh_get_windows_reply_wipe(&stacking);
            }
            xcb_flush(connection);
            again = Clock::now() + std::chrono::milliseconds(500);
        }
        const auto front = workspace.frontmostApplication();
        active = front && front->processIdentifier == pid;
    }
    xcb_ewmh_connection_wipe(&ewmh);
    xcb_disconnect(connection);
    return active;
}

scene::ContentFilter wholeScreen(double width, double height) {
    scene::ContentFilter filter;
    filter.style = scene::ContentFilter::Style::display;
    filter.contentRect = scene::Rect{0, 0, width, height};
    return filter;
}

// What a stream's thread does for each frame: read the monitor from the
// server and write it into pooled storage as opaque BGRA.
void grab(benchmark::State& state, scene::x11::X11CaptureSource& source) {
    const auto pool = std::make_shared<scene::PixelPool>(2);
    int failed = 0;
    for (auto _ : state) {
        auto frame = source.grab(1920, 1080, *pool);
        failed += frame.pixels ? 0 : 1;
        benchmark::DoNotOptimize(frame.pixels);
    }
    state.counters["failed"] = failed;
}

// Passes come a timer's tick apart, more or less: far enough for the events
// that arrived since the last to be taken in, and with the caches as cold as
// they then are.
constexpr auto kPassSpacing = std::chrono::milliseconds(2);
constexpr int kPasses = 1000;

void windowListRead(benchmark::State& state, scene::WindowServer& server) {
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(kPassSpacing);
        state.ResumeTiming();
        benchmark::DoNotOptimize(server.copyWindowList());
    }
}

// Whole passes of a started sampler on the desktop, its line written to
// /dev/null: window list, front application (one of the clients), focus,
// Dock, snapshot.
void samplingPass(benchmark::State& state, scene::SceneSampler& sampler) {
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(kPassSpacing);
        state.ResumeTiming();
        sampler.sample();
    }
}

// The same, each right after the other process moved its pop-up; `seen`
// counts the passes whose window list was new, which should be all of them.
void samplingPassAfterAMove(benchmark::State& state, scene::SceneSampler& sampler, scene::WindowServer& server,
                            const ClientProcess& clients) {
    auto last = server.copyWindowList();
    int seen = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (!clients.movePopUp()) state.SkipWithError("the client process is gone");
        std::this_thread::sleep_for(kPassSpacing);
        state.ResumeTiming();
        sampler.sample();
        state.PauseTiming();
        auto list = server.copyWindowList();
        seen += list != last ? 1 : 0;
        last = std::move(list);
        state.ResumeTiming();
    }
    state.counters["seen"] = benchmark::Counter(seen, benchmark::Counter::kAvgIterations);
}

// Prints why a benchmark is left out; it is not registered at all, as a
// benchmark that skips some of its repetitions upsets the statistics.
void leaveOut(const char* name, const char* reason) { std::fprintf(stderr, "%s: skipped, %s\n", name, reason); }

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    const XServer large("1920x1080x24", false);
    const auto screen = wholeScreen(1920, 1080);
    const auto shared = scene::x11::X11CaptureSource::open(large.display, screen, true);
    const auto plain = scene::x11::X11CaptureSource::open(large.display, screen, false);
    if (large.display.empty() || !shared.source || !plain.source) {
        leaveOut("grabs", "a 1920 x 1080 Xvfb is needed");
    } else if (!shared.source->sharingMemory()) {
        leaveOut("grabs", "the server refused the shared segment");
    } else {
        benchmark::RegisterBenchmark("sharedMemoryGrab1920x1080",
                                     [&](benchmark::State& state) { grab(state, *shared.source); })
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
        benchmark::RegisterBenchmark("plainReplyGrab1920x1080",
                                     [&](benchmark::State& state) { grab(state, *plain.source); })
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
    }

    const XServer managed("1440x900x24", true);
    const ClientProcess clients(managed.display, 40);  // before any thread starts
    const int discard = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    scene::AsioRuntime runtime(-1, discard);
    std::unique_ptr<scene::x11::X11Platform> platform;
    if (clients.pid > 0) platform = scene::x11::X11Platform::open(managed.display, runtime);
    if (platform && !listsWindowsOf(platform->windowServer(), clients.pid, 40, std::chrono::seconds(30))) {
        leaveOut("windowListRead40Clients", "the manager did not show the 40 windows");
        platform.reset();
    } else if (platform && !activateTopClient(managed.display, platform->workspace(), clients.pid)) {
        leaveOut("windowListRead40Clients", "the manager did not activate a client");
        platform.reset();
    } else if (!platform) {
        leaveOut("windowListRead40Clients", "Xvfb and openbox are needed");
    } else {
        benchmark::RegisterBenchmark("windowListRead40Clients",
                                     [&](benchmark::State& state) { windowListRead(state, platform->windowServer()); })
            ->Unit(benchmark::kMicrosecond)
            ->Iterations(kPasses)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
    }
    std::unique_ptr<scene::SceneSampler> sampler;
    if (platform) {
        sampler = std::make_unique<scene::SceneSampler>(scene::Arguments{"scene-sampler"}, scene::Environment{},
                                                        *platform, runtime);
        sampler->start();
        sampler->sample();
        benchmark::RegisterBenchmark("samplingPass40Clients",
                                     [&](benchmark::State& state) { samplingPass(state, *sampler); })
            ->Unit(benchmark::kMicrosecond)
            ->Iterations(kPasses)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
        benchmark::RegisterBenchmark("samplingPassAfterAMove40Clients",
                                     [&](benchmark::State& state) {
                                         samplingPassAfterAMove(state, *sampler, platform->windowServer(), clients);
                                     })
            ->Unit(benchmark::kMicrosecond)
            ->Iterations(kPasses)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
