#include "platform/simulated/scene_parts.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <set>

namespace scene::simulated::scene_read {

namespace {

constexpr std::array<std::string_view, 3> kPanelKeys{"bounds", "fill", "border"};
constexpr std::array<std::string_view, 12> kElementKeys{"id",      "role",     "subrole",         "frame",
                                                        "hidden",  "enabled",  "editable",        "valueSettable",
                                                        "focused", "children", "visibleChildren", "error"};
constexpr std::array<std::string_view, 2> kApplicationAXKeys{"children", "error"};
constexpr std::array<std::string_view, 6> kDisplayKeys{"id", "bounds", "uuid", "active", "asleep", "background"};
constexpr std::array<std::string_view, 6> kSystemKeys{"version", "accessibility", "screenCapture",
                                                      "home",    "bundleId",      "dockLevel"};
constexpr std::array<std::string_view, 3> kWindowListStates{"available", "unavailable", "malformed"};
constexpr std::array<std::string_view, 4> kPickerActions{"select", "cancel", "fail", "none"};
constexpr std::array<std::string_view, 2> kPickerStyles{"display", "window"};
constexpr std::array<std::string_view, 2> kStopBehaviours{"completes", "hangs"};

Panel readPanel(const Json& value, const std::string& path) {
    const ObjectReader object(value, path, kPanelKeys);
    Panel panel;
    panel.bounds = object.required("bounds", rect);
    panel.fill = object.optional("fill", color);
    panel.border = object.optional("border", color);
    return panel;
}

std::vector<Panel> readPanels(const Json& value, const std::string& path) {
    std::vector<Panel> panels;
    for (std::size_t i = 0; i < array(value, path).size(); ++i)
        panels.push_back(readPanel(value[i], itemPath(path, i)));
    return panels;
}

int axCode(const Json& value, const std::string& path) { return int32(value, path); }

// Builds the node before its children so they can point back at it; the node
// is frozen (handed out as const) once the whole subtree is in place.
std::shared_ptr<AXNode> buildElement(const Json& value, const std::string& path, std::string_view defaultRole,
                                     const std::shared_ptr<AXNode>& parent) {
    const ObjectReader object(value, path, kElementKeys);
    auto node = std::make_shared<AXNode>();
    node->parent = parent;
    node->id = object.optional("id", string);
    node->role = object.optional("role", string).value_or(std::string(defaultRole));
    node->subrole = object.optional("subrole", string);
    node->frame = object.optional("frame", rect);
    node->hidden = object.optional("hidden", boolean);
    node->enabled = object.optional("enabled", boolean);
    node->editable = object.optional("editable", boolean);
    node->valueSettable = object.optional("valueSettable", boolean);
    node->focused = object.optional("focused", boolean).value_or(false);
    node->error = object.optional("error", axCode);
    if (const Json* children = object.find("children")) {
        const auto childrenPath = object.pathOf("children");
        for (std::size_t i = 0; i < array(*children, childrenPath).size(); ++i)
            node->children.push_back(buildElement((*children)[i], itemPath(childrenPath, i), "AXGroup", node));
    }
    if (const Json* visible = object.find("visibleChildren")) {
        const auto visiblePath = object.pathOf("visibleChildren");
        std::vector<std::string> ids;
        for (std::size_t i = 0; i < array(*visible, visiblePath).size(); ++i) {
            const auto itemAt = itemPath(visiblePath, i);
            auto id = string((*visible)[i], itemAt);
            const bool named = std::any_of(node->children.begin(), node->children.end(),
                                           [&id](const AXNodePtr& child) { return child->id == id; });
            if (!named) refuse(itemAt, "no child has the id \"" + id + "\"");
            ids.push_back(std::move(id));
        }
        node->visibleChildren = std::move(ids);
    }
    return node;
}

template <typename Read>
auto orNull(Read read) {
    return [read](const Json& value, const std::string& path) -> std::optional<decltype(read(value, path))> {
        if (value.is_null()) return std::nullopt;
        return read(value, path);
    };
}

Json rawEntry(const Json& value, const std::string& path) {
    if (!value.is_object()) refuse(path, "must be an object");
    return value;
}

AXNodePtr windowElement(const Json& value, const std::string& path) { return readElement(value, path, "AXWindow"); }

std::uint32_t counter(const Json& value, const std::string& path) { return uint32(value, path); }

}  // namespace

void applyWindowKeys(const ObjectReader& object, WindowModel& window, bool change) {
    object.assign("pid", int32, window.pid);
    object.assign("number", integer, window.number);
    object.assign("layer", integer, window.layer);
    object.assign("bounds", rect, window.bounds);
    object.assign("fill", color, window.fill);
    object.assign("border", color, window.border);
    object.assign("titleBar", nonNegativeNumber, window.titleBar);
    object.assign("panels", readPanels, window.panels);
    if (change) {
        object.assign("alpha", orNull(number), window.alpha);
        object.assign(
            "ax",
            [](const Json& value, const std::string& path) {
                return value.is_null() ? nullptr : windowElement(value, path);
            },
            window.ax);
        object.assign("raw", orNull(rawEntry), window.raw);
    } else {
        object.assign("alpha", number, window.alpha);
        object.assign("ax", windowElement, window.ax);
        object.assign("raw", rawEntry, window.raw);
    }
}

WindowModel readWindow(const Json& value, const std::string& path) {
    const ObjectReader object(value, path, kWindowKeys);
    object.require("pid");
    object.require("number");
    // A raw window is only its dictionary; pid and number name it.
    if (!object.has("raw")) object.require("bounds");
    WindowModel window;
    applyWindowKeys(object, window, false);
    return window;
}

std::vector<WindowModel> readWindows(const Json& value, const std::string& path) {
    std::vector<WindowModel> windows;
    std::set<std::pair<std::int32_t, std::int64_t>> seen;
    for (std::size_t i = 0; i < array(value, path).size(); ++i) {
        auto window = readWindow(value[i], itemPath(path, i));
        if (!seen.insert({window.pid, window.number}).second)
            refuse(itemPath(path, i), "window id \"" + window.ref().text() + "\" used twice");
        windows.push_back(std::move(window));
    }
    return windows;
}

AXNodePtr readElement(const Json& value, const std::string& path, std::string_view defaultRole) {
    return buildElement(value, path, defaultRole, nullptr);
}

ApplicationAX readApplicationAX(const Json& value, const std::string& path) {
    const ObjectReader object(value, path, kApplicationAXKeys);
    ApplicationAX ax;
    if (const Json* children = object.find("children")) {
        const auto childrenPath = object.pathOf("children");
        for (std::size_t i = 0; i < array(*children, childrenPath).size(); ++i)
            ax.children.push_back(readElement((*children)[i], itemPath(childrenPath, i), "AXGroup"));
    }
    ax.error = object.optional("error", axCode);
    return ax;
}

ApplicationModel readApplication(const ObjectReader& object) {
    ApplicationModel application;
    application.pid = object.required("pid", int32);
    application.bundleId = object.optional("bundleId", stringOrNull).value_or(std::nullopt);
    application.bundlePath = object.optional("bundlePath", stringOrNull).value_or(std::nullopt);
    object.assign("ax", readApplicationAX, application.ax);
    return application;
}

void applyDisplayKeys(const ObjectReader& object, DisplayModel& display) {
    object.assign("bounds", rect, display.bounds);
    object.assign("uuid", stringOrNull, display.uuid);
    object.assign("active", boolean, display.active);
    object.assign("asleep", boolean, display.asleep);
    object.assign("background", color, display.background);
}

DisplayModel readDisplay(const Json& value, const std::string& path) {
    const ObjectReader object(value, path, kDisplayKeys);
    DisplayModel display;
    display.id = object.required("id", uint32);
    object.require("bounds");
    display.uuid = defaultDisplayUUID(display.id);
    applyDisplayKeys(object, display);
    return display;
}

void applyInputKeys(const ObjectReader& object, InputModel& input) {
    object.assign("leftButtonDown", boolean, input.leftButtonDown);
    object.assign("modifierFlags", uint64, input.modifierFlags);
    if (const Json* counters = object.find("counters")) {
        const auto countersPath = object.pathOf("counters");
        if (!counters->is_object()) refuse(countersPath, "must be an object");
        for (auto it = counters->begin(); it != counters->end(); ++it) {
            const auto& type = it.key();
            const auto countPath = childPath(countersPath, type);
            unsigned parsed = 0;
            const auto [stop, error] = std::from_chars(type.data(), type.data() + type.size(), parsed);
            if (type.empty() || error != std::errc() || stop != type.data() + type.size())
                refuse(countPath, "must be keyed by an event type in decimal");
            input.counters[type] = counter(it.value(), countPath);
        }
    }
}

void applyPickerKeys(const ObjectReader& object, PickerSettings& picker) {
    if (const auto action = object.optional(
            "action", [](const Json& value, const std::string& path) { return choice(value, path, kPickerActions); }))
        picker.action = static_cast<PickerSettings::Action>(*action);
    object.assign("display", uint32, picker.display);
    if (const Json* displays = object.find("displays")) {
        const auto displaysPath = object.pathOf("displays");
        std::vector<DisplayID> ids;
        for (std::size_t i = 0; i < array(*displays, displaysPath).size(); ++i)
            ids.push_back(uint32((*displays)[i], itemPath(displaysPath, i)));
        picker.displays = std::move(ids);
    }
    if (const auto style = object.optional(
            "style", [](const Json& value, const std::string& path) { return choice(value, path, kPickerStyles); }))
        picker.style = *style == 0 ? ContentFilter::Style::display : ContentFilter::Style::window;
    object.assign("contentRect", rect, picker.contentRect);
    object.assign("after", nonNegativeNumber, picker.after);
    object.assign("code", integer, picker.code);
}

void applyStreamKeys(const ObjectReader& object, StreamSettings& stream) {
    object.assign("fps", positiveNumber, stream.fps);
    object.assign("status", integer, stream.status);
    object.assign("latency", nonNegativeNumber, stream.latency);
    object.assign("deliver", boolean, stream.deliver);
    object.assign("addOutputError", codeOrNull, stream.addOutputError);
    object.assign("startError", codeOrNull, stream.startError);
    if (const Json* stop = object.find("stop")) {
        const auto stopPath = object.pathOf("stop");
        if (stop->is_number()) {
            stream.stop = StreamSettings::Stop::fails;
            stream.stopCode = integer(*stop, stopPath);
        } else if (const auto word = stop->is_string() ? stop->get<std::string>() : std::string();
                   word == kStopBehaviours[0] || word == kStopBehaviours[1]) {
            stream.stop = word == kStopBehaviours[0] ? StreamSettings::Stop::completes : StreamSettings::Stop::hangs;
        } else {
            refuse(stopPath, "must be \"completes\", \"hangs\" or an error code");
        }
    }
}

SystemVersion readSystemVersion(const Json& value, const std::string& path) {
    const auto problem = "must be a version \"major.minor[.patch]\"";
    const auto text = value.is_string() ? value.get<std::string>() : std::string();
    SystemVersion version;
    int* parts[] = {&version.major, &version.minor, &version.patch};
    const char* at = text.data();
    const char* end = text.data() + text.size();
    int count = 0;
    while (count < 3) {
        const auto [stop, error] = std::from_chars(at, end, *parts[count]);
        if (error != std::errc() || stop == at || *parts[count] < 0) refuse(path, problem);
        ++count;
        at = stop;
        if (at == end) break;
        if (*at != '.') refuse(path, problem);
        ++at;
    }
    if (count < 2 || at != end) refuse(path, problem);
    return version;
}

SystemModel readSystem(const Json& value, const std::string& path) {
    const ObjectReader object(value, path, kSystemKeys);
    SystemModel system;
    object.assign("version", readSystemVersion, system.version);
    object.assign("accessibility", boolean, system.accessibility);
    object.assign("screenCapture", boolean, system.screenCapture);
    object.assign("home", string, system.home);
    object.assign("bundleId", stringOrNull, system.bundleId);
    object.assign("dockLevel", int32, system.dockLevel);
    return system;
}

WindowListState readWindowListState(const Json& value, const std::string& path) {
    return static_cast<WindowListState>(choice(value, path, kWindowListStates));
}

}  // namespace scene::simulated::scene_read
