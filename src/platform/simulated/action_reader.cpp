#include "platform/simulated/action_reader.h"

#include <algorithm>
#include <array>
#include <functional>
#include <span>
#include <string_view>

#include "platform/json_read.h"
#include "platform/simulated/scene_parts.h"
#include "platform/simulated/scene_reader.h"

namespace scene::simulated::scene_read {

namespace {

using Keys = ObjectReader::Keys;
using Reader = std::function<SceneAction(const ObjectReader&)>;

constexpr std::array<std::string_view, 2> kEntryKeys{"at", "do"};
constexpr std::array<std::string_view, 1> kWindowRefKey{"window"};
constexpr std::array<std::string_view, 2> kAddWindowKeys{"window", "index"};
constexpr std::array<std::string_view, 2> kMoveKeys{"window", "to"};
constexpr std::array<std::string_view, 2> kResizeKeys{"window", "size"};
constexpr std::array<std::string_view, 1> kLaunchKey{"application"};
constexpr std::array<std::string_view, 1> kPidKey{"pid"};
constexpr std::array<std::string_view, 1> kSpaceKeys{"windows"};
constexpr std::array<std::string_view, 2> kFocusWindowKeys{"pid", "window"};
constexpr std::array<std::string_view, 2> kFocusElementKeys{"pid", "element"};
constexpr std::array<std::string_view, 1> kSessionKeys{"value"};
constexpr std::array<std::string_view, 2> kTrustKeys{"accessibility", "screenCapture"};
constexpr std::array<std::string_view, 1> kDisplayIdKey{"id"};
constexpr std::array<std::string_view, 1> kWindowListKeys{"state"};
constexpr std::array<std::string_view, 2> kStreamErrorKeys{"code", "domain"};

// The keys an action changes, without the entry's own (`at`, `do`, and the key
// that names the target): what the action applies when it runs.
Json changedKeys(const ObjectReader& object, std::initializer_list<std::string_view> naming) {
    Json keys = Json::object();
    for (auto it = object.value().begin(); it != object.value().end(); ++it) {
        const auto& key = it.key();
        const bool own = std::find(kEntryKeys.begin(), kEntryKeys.end(), key) != kEntryKeys.end() ||
                         std::find(naming.begin(), naming.end(), key) != naming.end();
        if (!own) keys[key] = it.value();
    }
    return keys;
}

SceneAction applicationEvent(const ObjectReader& object, action::ApplicationEvent::Kind kind) {
    return action::ApplicationEvent{kind, object.required("pid", int32)};
}

SceneAction launch(const ObjectReader& object) {
    if (const Json* application = object.find("application")) {
        const auto applicationPath = object.pathOf("application");
        for (const auto key : kApplicationKeys) {
            if (object.has(key))
                refuse(object.pathOf(key), "give the application either inline or under \"application\", not both");
        }
        return action::Launch{readApplication(ObjectReader(*application, applicationPath, kApplicationKeys))};
    }
    return action::Launch{readApplication(object)};
}

SceneAction session(const ObjectReader& object) {
    const Json& value = object.require("value");
    if (value.is_null()) return action::SetSession{std::nullopt};
    if (!value.is_object()) refuse(object.pathOf("value"), "must be an object or null");
    return action::SetSession{value};
}

struct ActionKind {
    std::string_view name;
    std::vector<Keys> keys;
    Reader read;
};

const std::vector<ActionKind>& actionKinds() {
    using action::ApplicationEvent;
    using action::PowerEvent;
    // Built once, read-only afterwards.
    static const std::vector<ActionKind> kinds = {
        {"add-window",
         {kAddWindowKeys},
         [](const ObjectReader& o) -> SceneAction {
             return action::AddWindow{readWindow(o.require("window"), o.pathOf("window")),
                                      o.optional("index", index).value_or(0)};
         }},
        {"remove-window",
         {kWindowRefKey},
         [](const ObjectReader& o) -> SceneAction { return action::RemoveWindow{o.required("window", windowRef)}; }},
        {"move-window",
         {kMoveKeys},
         [](const ObjectReader& o) -> SceneAction {
             return action::MoveWindow{o.required("window", windowRef), o.required("to", point)};
         }},
        {"resize-window",
         {kResizeKeys},
         [](const ObjectReader& o) -> SceneAction {
             return action::ResizeWindow{o.required("window", windowRef), o.required("size", size)};
         }},
        {"set-window",
         {kWindowRefKey, kWindowKeys},
         [](const ObjectReader& o) -> SceneAction {
             const auto target = o.required("window", windowRef);
             WindowModel scratch;
             applyWindowKeys(o, scratch, true);
             return action::SetWindow{target, changedKeys(o, {"window"})};
         }},
        {"raise-window",
         {kWindowRefKey},
         [](const ObjectReader& o) -> SceneAction { return action::RaiseWindow{o.required("window", windowRef)}; }},
        {"launch", {kLaunchKey, kApplicationKeys}, launch},
        {"activate",
         {kPidKey},
         [](const ObjectReader& o) { return applicationEvent(o, ApplicationEvent::Kind::activate); }},
        {"hide", {kPidKey}, [](const ObjectReader& o) { return applicationEvent(o, ApplicationEvent::Kind::hide); }},
        {"unhide",
         {kPidKey},
         [](const ObjectReader& o) { return applicationEvent(o, ApplicationEvent::Kind::unhide); }},
        {"terminate",
         {kPidKey},
         [](const ObjectReader& o) { return applicationEvent(o, ApplicationEvent::Kind::terminate); }},
        {"space",
         {kSpaceKeys},
         [](const ObjectReader& o) -> SceneAction {
             return action::SwitchSpace{readWindows(o.require("windows"), o.pathOf("windows"))};
         }},
        {"focus-window",
         {kFocusWindowKeys},
         [](const ObjectReader& o) -> SceneAction {
             const auto target = o.required("window", windowRef);
             return action::FocusWindow{o.optional("pid", int32).value_or(target.pid), target};
         }},
        {"focus-element",
         {kFocusElementKeys},
         [](const ObjectReader& o) -> SceneAction {
             return action::FocusElement{o.required("pid", int32), o.required("element", string)};
         }},
        {"session", {kSessionKeys}, session},
        {"input",
         {kInputKeys},
         [](const ObjectReader& o) -> SceneAction {
             InputModel scratch;
             applyInputKeys(o, scratch);
             return action::SetInput{changedKeys(o, {})};
         }},
        {"trust",
         {kTrustKeys},
         [](const ObjectReader& o) -> SceneAction {
             return action::SetTrust{o.optional("accessibility", boolean), o.optional("screenCapture", boolean)};
         }},
        {"screens-sleep",
         {},
         [](const ObjectReader&) -> SceneAction { return PowerEvent{PowerEvent::Kind::screensSleep}; }},
        {"screens-wake",
         {},
         [](const ObjectReader&) -> SceneAction { return PowerEvent{PowerEvent::Kind::screensWake}; }},
        {"system-sleep",
         {},
         [](const ObjectReader&) -> SceneAction { return PowerEvent{PowerEvent::Kind::systemSleep}; }},
        {"system-wake",
         {},
         [](const ObjectReader&) -> SceneAction { return PowerEvent{PowerEvent::Kind::systemWake}; }},
        {"display",
         {kDisplayIdKey, kDisplayChangeKeys},
         [](const ObjectReader& o) -> SceneAction {
             const auto id = o.required("id", uint32);
             DisplayModel scratch;
             applyDisplayKeys(o, scratch);
             return action::SetDisplay{id, changedKeys(o, {"id"})};
         }},
        {"window-list",
         {kWindowListKeys},
         [](const ObjectReader& o) -> SceneAction {
             return action::SetWindowList{o.required("state", readWindowListState)};
         }},
        {"picker",
         {kPickerKeys},
         [](const ObjectReader& o) -> SceneAction {
             PickerSettings scratch;
             applyPickerKeys(o, scratch);
             return action::SetPicker{changedKeys(o, {})};
         }},
        {"stream",
         {kStreamKeys},
         [](const ObjectReader& o) -> SceneAction {
             StreamSettings scratch;
             applyStreamKeys(o, scratch);
             return action::SetStream{changedKeys(o, {})};
         }},
        {"stream-error",
         {kStreamErrorKeys},
         [](const ObjectReader& o) -> SceneAction {
             return action::StreamError{o.required("code", integer),
                                        o.optional("domain", string).value_or(std::string(kDefaultStreamErrorDomain))};
         }},
    };
    return kinds;
}

}  // namespace

TimedAction readAction(const Json& entry, const std::string& path, bool timed) {
    if (!entry.is_object()) refuse(path, "must be an object");
    const auto doPath = childPath(path, "do");
    const Json* name = json_read::member(entry, "do");
    if (name == nullptr) refuse(doPath, "required key is missing");
    const auto text = string(*name, doPath);
    const auto& kinds = actionKinds();
    const auto kind = std::find_if(kinds.begin(), kinds.end(), [&text](const ActionKind& k) { return k.name == text; });
    if (kind == kinds.end()) {
        std::string known;
        for (const ActionKind& k : kinds) known.append(known.empty() ? "" : ", ").append(k.name);
        refuse(doPath, "unknown action \"" + text + "\" (the actions are " + known + ")");
    }

    std::vector<Keys> keySets{kEntryKeys};
    keySets.insert(keySets.end(), kind->keys.begin(), kind->keys.end());
    const ObjectReader object(entry, path, keySets);
    TimedAction timedAction{0, kind->read(object)};
    if (timed) {
        timedAction.at = object.required("at", nonNegativeNumber);
    } else if (object.has("at")) {
        object.required("at", nonNegativeNumber);
    }
    return timedAction;
}

}  // namespace scene::simulated::scene_read
