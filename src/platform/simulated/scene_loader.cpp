#include "platform/simulated/scene_loader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/simulated/demo_scene.h"
#include "platform/simulated/scene_parser.h"

namespace scene::simulated {

namespace {

// The error goes to standard error as one line, but its parts come from
// outside: the path, and keys and values of the file, any of which may hold
// line breaks and other control characters. Those are written as JSON escapes.
LoadResult refusal(const std::string& line) {
    std::string escaped;
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\t') {
            escaped += "\\t";
        } else {
            constexpr char kHex[] = "0123456789abcdef";
            escaped += "\\u00";
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0xF];
        }
    }
    return {nullptr, escaped};
}

}  // namespace

LoadResult loadScene(std::string_view text, std::string_view fileName, Runtime& runtime, ProcessFacts facts) {
    auto parsed = parseScene(text);
    if (!parsed.value) return refusal(std::string(fileName) + ": " + parsed.error.describe());
    return {std::make_unique<SimulatedPlatform>(std::move(*parsed.value), runtime, std::move(facts)), {}};
}

LoadResult loadSceneFile(const std::string& path, Runtime& runtime, ProcessFacts facts) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) return refusal(path + ": cannot be read: is a directory");
    std::ifstream file(path, std::ios::binary);
    if (!file) return refusal(path + ": cannot be read: " + std::strerror(errno));
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) return refusal(path + ": cannot be read: " + std::strerror(errno));
    return loadScene(text.str(), path, runtime, std::move(facts));
}

LoadResult loadSceneForProcess(const Arguments& arguments, const Environment& environment, Runtime& runtime) {
    // Argument 0 is the program; the word after "--scene" is always a path,
    // even when it looks like a process id.
    const auto flag = std::find(arguments.begin() + std::min<std::ptrdiff_t>(1, std::ssize(arguments)), arguments.end(),
                                kSceneArgument);
    if (flag != arguments.end()) {
        if (std::next(flag) == arguments.end()) return {nullptr, std::string(kSceneArgument) + ": missing file path"};
        return loadSceneFile(*std::next(flag), runtime);
    }
    if (const auto it = environment.find(kSceneEnvironmentVariable); it != environment.end() && !it->second.empty())
        return loadSceneFile(it->second, runtime);
    return loadScene(demoSceneText(), kDemoSceneName, runtime);
}

}  // namespace scene::simulated
