#include "tools/view/display_bounds.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/json_read.h"
#include "platform/simulated/demo_scene.h"
#include "platform/simulated/scene_loader.h"
#include "platform/simulated/scene_parser.h"

namespace scene::view {
namespace {

constexpr std::string_view kCaptureMetrics = "captureMetrics";
constexpr std::string_view kFrameScreenRect = "frameScreenRect";
constexpr std::string_view kCaptureSelectedDisplay = "captureSelectedDisplay";
// Used only when nothing else is known: the built-in demo desktop's display.
constexpr Rect kFallbackDisplay{0, 0, 1440, 900};

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool usable(const Rect& rect) {
    return !rect.isNull() && !rect.isInfinite() && rect.absWidth() > 0 && rect.absHeight() > 0;
}

}  // namespace

std::vector<SceneDisplay> sceneDisplays(const std::vector<std::string>& samplerArguments,
                                        const Environment& environment) {
    std::optional<std::string> text;
    const auto flag = std::find(samplerArguments.begin(), samplerArguments.end(), simulated::kSceneArgument);
    if (flag != samplerArguments.end()) {
        if (std::next(flag) != samplerArguments.end()) text = readFile(*std::next(flag));
    } else if (const auto it = environment.find(simulated::kSceneEnvironmentVariable);
               it != environment.end() && !it->second.empty()) {
        text = readFile(it->second);
    } else {
        text = std::string(simulated::demoSceneText());
    }
    if (!text) return {};
    const auto parsed = simulated::parseScene(*text);
    if (!parsed.value) return {};
    std::vector<SceneDisplay> displays;
    for (const auto& display : parsed.value->desktop.displays) displays.push_back({display.id, display.bounds});
    return displays;
}

Rect displayBounds(const DisplayClues& clues) {
    if (clues.given) return clues.given->standardized();
    if (clues.frameScreenRect && usable(*clues.frameScreenRect)) return clues.frameScreenRect->standardized();
    if (clues.displayID) {
        for (const auto& display : clues.sceneDisplays)
            if (display.id == *clues.displayID) return display.bounds.standardized();
    } else if (!clues.sceneDisplays.empty()) {
        return clues.sceneDisplays.front().bounds.standardized();
    }
    if (clues.frameSize && clues.frameSize->width > 0 && clues.frameSize->height > 0)
        return {0, 0, clues.frameSize->width, clues.frameSize->height};
    if (!clues.sceneDisplays.empty()) return clues.sceneDisplays.front().bounds.standardized();
    return kFallbackDisplay;
}

std::optional<Rect> frameScreenRect(const Json& snapshot) {
    const Json* metrics = json_read::member(snapshot, kCaptureMetrics);
    const Json* rect = metrics ? json_read::member(*metrics, kFrameScreenRect) : nullptr;
    if (rect == nullptr) return std::nullopt;
    const auto bounds = json_read::recordRect(*rect);
    if (!bounds || !usable(*bounds)) return std::nullopt;
    return bounds;
}

std::optional<std::uint32_t> selectedDisplay(const Json& snapshot) {
    return json_read::uint32(snapshot, kCaptureSelectedDisplay);
}

}  // namespace scene::view
