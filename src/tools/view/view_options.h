#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/rect.h"

namespace scene::view {

// What scene-view was asked to do. A plain value built once from the command
// line.
struct ViewOptions {
    enum class Mode {
        single,  // one picture to `out` after `after` seconds, then quit the sampler
        series,  // numbered pictures into `outDir` every `every` seconds until interrupted
        once,    // the sampler's single pass, geometry only, to `out`
        serve,   // the live view: a page on 127.0.0.1:`port` until interrupted
    };

    Mode mode = Mode::single;
    std::string out;
    std::string outDir;
    double after = 2.0;         // seconds from start to the first picture
    double every = 0;           // seconds between pictures of a series
    double frameTimeout = 5.0;  // seconds a picture may wait for its JPEG frame (--once: for the pass)
    int port = 0;               // --serve: 0 picks a free port
    std::optional<Rect> displayBounds;
    std::optional<std::string> sampler;         // path of scene-sampler; none: beside this executable
    std::vector<std::string> samplerArguments;  // everything after "--", handed on untouched
    bool help = false;
};

// The options, or a one-line reason why the command line is unusable.
struct ParsedViewOptions {
    std::optional<ViewOptions> options;
    std::string error;
};

inline constexpr const char* kViewUsage =
    "usage: scene-view (--out FILE | --every SECONDS --out-dir DIR) [--after SECONDS]\n"
    "       scene-view --once --out FILE\n"
    "       scene-view --serve [--port N]\n"
    "         options: [--sampler PATH] [--display-bounds X,Y,W,H] [--frame-timeout SECONDS]\n"
    "                  [-- SAMPLER-ARGUMENTS...]";

// Argument 0 (the program path) is skipped.
ParsedViewOptions parseViewOptions(const std::vector<std::string>& arguments);

}  // namespace scene::view
