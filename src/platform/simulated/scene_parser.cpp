#include "platform/simulated/scene_parser.h"

#include <array>
#include <exception>
#include <set>
#include <string>

#include "platform/simulated/action_reader.h"
#include "platform/simulated/scene_parts.h"
#include "platform/simulated/scene_reader.h"

namespace scene::simulated {

namespace {

using namespace scene_read;

constexpr std::int64_t kFormat = 1;
constexpr std::array<std::string_view, 13> kTopLevelKeys{"format",  "system",   "displays", "applications", "frontmost",
                                                         "session", "input",    "windows",  "windowList",   "picker",
                                                         "stream",  "timeline", "repeat"};

Json defaultSession() { return {{"CGSSessionScreenIsLocked", false}, {"kCGSSessionOnConsoleKey", true}}; }

DisplayModel defaultDisplay() {
    DisplayModel display;
    display.id = 1;
    display.bounds = {0, 0, 1440, 900};
    display.uuid = defaultDisplayUUID(1);
    return display;
}

std::vector<DisplayModel> readDisplays(const Json& value, const std::string& path) {
    std::vector<DisplayModel> displays;
    std::set<DisplayID> seen;
    for (std::size_t i = 0; i < array(value, path).size(); ++i) {
        auto display = readDisplay(value[i], itemPath(path, i));
        if (!seen.insert(display.id).second)
            refuse(childPath(itemPath(path, i), "id"), "display id " + std::to_string(display.id) + " used twice");
        displays.push_back(std::move(display));
    }
    return displays;
}

std::vector<ApplicationModel> readApplications(const Json& value, const std::string& path) {
    std::vector<ApplicationModel> applications;
    std::set<std::int32_t> seen;
    for (std::size_t i = 0; i < array(value, path).size(); ++i) {
        const auto itemAt = itemPath(path, i);
        auto application = readApplication(ObjectReader(value[i], itemAt, kApplicationKeys));
        if (!seen.insert(application.pid).second)
            refuse(childPath(itemAt, "pid"), "pid " + std::to_string(application.pid) + " used twice");
        applications.push_back(std::move(application));
    }
    return applications;
}

std::optional<Json> readSession(const Json& value, const std::string& path) {
    if (value.is_null()) return std::nullopt;
    if (!value.is_object()) refuse(path, "must be an object or null");
    return value;
}

std::vector<TimedAction> readTimeline(const Json& value, const std::string& path) {
    std::vector<TimedAction> timeline;
    for (std::size_t i = 0; i < array(value, path).size(); ++i)
        timeline.push_back(readAction(value[i], itemPath(path, i), true));
    return timeline;
}

Scene readScene(const Json& root) {
    const ObjectReader top(root, "", kTopLevelKeys);
    const auto format = top.required("format", integer);
    if (format != kFormat) refuse("format", "unsupported format " + std::to_string(format) + ", expected 1");

    Scene scene;
    DesktopModel& desktop = scene.desktop;
    top.assign("system", readSystem, desktop.system);
    desktop.displays = top.optional("displays", readDisplays).value_or(std::vector{defaultDisplay()});
    top.assign("applications", readApplications, desktop.applications);
    desktop.frontmost = top.optional("frontmost",
                                     [](const Json& value, const std::string& path) {
                                         return value.is_null() ? std::nullopt : std::optional(int32(value, path));
                                     })
                            .value_or(std::nullopt);
    desktop.session = top.optional("session", readSession).value_or(defaultSession());
    if (const Json* input = top.find("input")) applyInputKeys(ObjectReader(*input, "input", kInputKeys), desktop.input);
    top.assign("windows", readWindows, desktop.windows);
    desktop.addMissingApplications();
    top.assign("windowList", readWindowListState, desktop.windowList);

    if (!desktop.displays.empty()) desktop.picker.display = desktop.displays.front().id;
    if (const Json* picker = top.find("picker"))
        applyPickerKeys(ObjectReader(*picker, "picker", kPickerKeys), desktop.picker);
    if (const Json* stream = top.find("stream"))
        applyStreamKeys(ObjectReader(*stream, "stream", kStreamKeys), desktop.stream);

    top.assign("timeline", readTimeline, scene.timeline);
    scene.repeat = top.optional("repeat",
                                [](const Json& value, const std::string& path) {
                                    return value.is_null() ? std::nullopt : std::optional(positiveNumber(value, path));
                                })
                       .value_or(std::nullopt);
    return scene;
}

// nlohmann's messages start with an internal tag ("[json.exception.parse_error.101] ").
std::string withoutTag(const std::string& message) {
    const auto end = message.find("] ");
    return end == std::string::npos ? message : message.substr(end + 2);
}

}  // namespace

Parsed<Scene> parseScene(std::string_view text) {
    Json root;
    try {
        root = Json::parse(text.begin(), text.end());
    } catch (const Json::exception& error) {
        // Not only syntax errors: a number too large for a double ("1e400")
        // is an out_of_range error of the parser.
        return {std::nullopt, SceneError{"", "not valid JSON: " + withoutTag(error.what())}};
    }
    try {
        return {readScene(root), {}};
    } catch (const SceneError& error) {
        return {std::nullopt, error};
    } catch (const std::exception& error) {
        return {std::nullopt, SceneError{"", std::string("cannot be read: ") + error.what()}};
    }
}

Parsed<SceneAction> parseAction(const Json& entry) {
    try {
        return {readAction(entry, "", false).action, {}};
    } catch (const SceneError& error) {
        return {std::nullopt, error};
    } catch (const std::exception& error) {
        return {std::nullopt, SceneError{"", std::string("cannot be read: ") + error.what()}};
    }
}

}  // namespace scene::simulated
