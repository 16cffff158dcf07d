#include "tools/view/view_options.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace scene::view {
namespace {

constexpr std::string_view kOut = "--out";
constexpr std::string_view kOutDir = "--out-dir";
constexpr std::string_view kAfter = "--after";
constexpr std::string_view kEvery = "--every";
constexpr std::string_view kOnce = "--once";
constexpr std::string_view kServe = "--serve";
constexpr std::string_view kPort = "--port";
constexpr std::string_view kSampler = "--sampler";
constexpr std::string_view kDisplayBounds = "--display-bounds";
constexpr std::string_view kFrameTimeout = "--frame-timeout";
constexpr std::string_view kSeparator = "--";
constexpr std::string_view kHelp = "--help";
constexpr std::string_view kShortHelp = "-h";

// A finite decimal number and nothing else (no leading space, no unit).
std::optional<double> parseNumber(std::string_view text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<Rect> parseBounds(std::string_view text) {
    double parts[4];
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = i < 3 ? text.find(',') : text.size();
        if (comma == std::string_view::npos) return std::nullopt;
        const auto value = parseNumber(text.substr(0, comma));
        if (!value) return std::nullopt;
        parts[i] = *value;
        text.remove_prefix(i < 3 ? comma + 1 : comma);
    }
    if (parts[2] <= 0 || parts[3] <= 0) return std::nullopt;
    return Rect{parts[0], parts[1], parts[2], parts[3]};
}

// A TCP port, 0 to 65535, in decimal digits only.
std::optional<int> parsePort(std::string_view text) {
    int value = -1;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < 0 || value > 65535) return std::nullopt;
    return value;
}

ParsedViewOptions failure(std::string error) { return {std::nullopt, std::move(error)}; }

}  // namespace

ParsedViewOptions parseViewOptions(const std::vector<std::string>& arguments) {
    ViewOptions options;
    bool once = false, serve = false;
    std::optional<int> port;
    std::optional<std::string> out, outDir;
    std::optional<double> after, every;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == kSeparator) {
            options.samplerArguments.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1, arguments.end());
            break;
        }
        if (argument == kHelp || argument == kShortHelp) {
            options.help = true;
            return {options, {}};
        }
        if (argument == kOnce || argument == kServe) {
            (argument == kOnce ? once : serve) = true;
            continue;
        }
        const bool takesValue = argument == kOut || argument == kOutDir || argument == kAfter || argument == kEvery ||
                                argument == kSampler || argument == kDisplayBounds || argument == kFrameTimeout ||
                                argument == kPort;
        if (!takesValue) return failure("unknown argument \"" + argument + "\" (sampler arguments go after \"--\")");
        if (i + 1 >= arguments.size()) return failure(argument + " needs a value");
        const std::string& value = arguments[++i];
        if (argument == kOut) {
            out = value;
        } else if (argument == kOutDir) {
            outDir = value;
        } else if (argument == kPort) {
            port = parsePort(value);
            if (!port) return failure("--port wants a port number, 0 to 65535 (0: any free port)");
        } else if (argument == kSampler) {
            options.sampler = value;
        } else if (argument == kDisplayBounds) {
            options.displayBounds = parseBounds(value);
            if (!options.displayBounds) return failure("--display-bounds wants X,Y,W,H with W and H above 0");
        } else {
            const auto number = parseNumber(value);
            const bool positive = argument != kAfter;
            if (!number || *number < 0 || (positive && *number == 0))
                return failure(argument + (positive ? " wants seconds above 0" : " wants seconds, 0 or more"));
            if (argument == kAfter) after = number;
            if (argument == kEvery) every = number;
            if (argument == kFrameTimeout) options.frameTimeout = *number;
        }
    }
    if (port && !serve) return failure("--port needs --serve");
    if (serve) {
        if (once || out || outDir || every || after) return failure("--serve takes no picture options");
        options.mode = ViewOptions::Mode::serve;
        options.port = port.value_or(0);
        return {options, {}};
    }
    if (out && outDir) return failure("--out and --out-dir exclude each other");
    if (every && !outDir) return failure("--every needs --out-dir");
    if (outDir && !every) return failure("--out-dir needs --every");
    if (once && (every || after)) return failure("--once takes neither --every nor --after");
    if (!out && !outDir)
        return failure("say where the picture goes: --out FILE or --every SECONDS --out-dir DIR, or --serve");
    if (out && out->empty()) return failure("--out needs a file name");
    if (outDir && outDir->empty()) return failure("--out-dir needs a directory");

    options.mode = once ? ViewOptions::Mode::once : every ? ViewOptions::Mode::series : ViewOptions::Mode::single;
    options.out = out.value_or("");
    options.outDir = outDir.value_or("");
    options.after = after.value_or(options.after);
    options.every = every.value_or(0);
    return {options, {}};
}

}  // namespace scene::view
