// scene-sampler: builds the platform (the simulated desktop, or an X desktop
// when one is reachable or asked for) and the production runtime, then runs the
// entry.
#include <unistd.h>

#include <cstdio>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "core/entry.h"
#include "platform/asio_runtime.h"
#include "platform/platform_choice.h"
#include "platform/simulated/scene_loader.h"
#include "platform/standard_descriptors.h"
#ifdef SCENE_SAMPLER_HAVE_X11
#include "platform/x11/x11_platform.h"
#endif

extern char** environ;

int main(int argc, char** argv) {
    const scene::ClosedStandardDescriptors closed = scene::reserveStandardDescriptors();
#if defined(__GLIBC__)
    // Captured frames are blocks of tens of megabytes. By default glibc raises
    // its mapping threshold above such a block the first time one is freed;
    // later frames then come from the heap, where freed ones stay resident
    // wherever they happen to lie, and the resident size drifts by whole
    // frames with timing. A fixed threshold keeps every large block in a
    // mapping of its own, returned to the system when its last holder lets
    // go. (Steady streams reuse their pools' blocks, so this costs no faults.)
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
    const scene::Arguments arguments(argv, argv + argc);
    if (const auto status = scene::answerWithoutDesktop(arguments, stdout, stderr)) return *status;
    scene::Environment environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos) environment.emplace(text.substr(0, equals), text.substr(equals + 1));
    }

    scene::AsioRuntime runtime(closed.input ? -1 : STDIN_FILENO, closed.output ? -1 : STDOUT_FILENO);
    std::unique_ptr<scene::Platform> platform;
    std::function<bool(const std::string&)> openX11;
#ifdef SCENE_SAMPLER_HAVE_X11
    openX11 = [&](const std::string& display) {
        return (platform = scene::x11::X11Platform::open(display, runtime)) != nullptr;
    };
#endif
    const auto choice = scene::choosePlatform(arguments, environment, openX11);
    if (!choice.kind) {
        std::fprintf(stderr, "%s\n", choice.error.c_str());
        return 2;
    }
    if (!choice.notice.empty()) std::fprintf(stderr, "%s\n", choice.notice.c_str());
    if (*choice.kind == scene::PlatformKind::simulated) {
        auto loaded = scene::simulated::loadSceneForProcess(arguments, environment, runtime);
        if (!loaded.platform) {
            std::fprintf(stderr, "%s\n", loaded.error.c_str());
            return 2;
        }
        platform = std::move(loaded.platform);
    }
    return scene::runSceneSampler(arguments, environment, *platform, runtime);
}
