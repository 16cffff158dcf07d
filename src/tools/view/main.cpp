// scene-view: starts scene-sampler the way a companion does and draws what it
// sees into SVG pictures, or serves them live to a browser (--serve).
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

#include "tools/view/live_run.h"
#include "tools/view/view_options.h"
#include "tools/view/view_run.h"

extern char** environ;

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv, argv + argc);
    const auto parsed = scene::view::parseViewOptions(arguments);
    if (!parsed.options) {
        std::cerr << "scene-view: " << parsed.error << '\n' << scene::view::kViewUsage << '\n';
        return 2;
    }
    if (parsed.options->help) {
        std::cout << scene::view::kViewUsage << '\n';
        return 0;
    }

    scene::Environment environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos) environment.emplace(text.substr(0, equals), text.substr(equals + 1));
    }

    // A sampler that has gone shows up as a failed write, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);
    // SIGINT and SIGTERM arrive as a readable descriptor that the loop polls
    // beside the sampler's output, so stopping is an ordinary event there.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    int interrupt = -1;
    if (sigprocmask(SIG_BLOCK, &stopping, nullptr) == 0) interrupt = signalfd(-1, &stopping, SFD_CLOEXEC);

    const int status =
        parsed.options->mode == scene::view::ViewOptions::Mode::serve
            ? scene::view::runLiveView(*parsed.options, environment, interrupt, std::cout, std::cerr)
            : scene::view::runSceneView(*parsed.options, environment, interrupt, std::cerr);
    if (interrupt >= 0) ::close(interrupt);
    return status;
}
