#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/records.h"
#include "platform/rect.h"
#include "platform/simulated/desktop_model.h"
#include "platform/simulated/window_model.h"

namespace scene::simulated {

// The timeline's actions, validated when read. Actions that change "those keys"
// of something keep the validated keys as JSON and apply them with the same
// readers that built the scene, so a key means the same in both places.
namespace action {

struct AddWindow {
    WindowModel window;
    std::size_t index = 0;  // front-to-back position, clamped to the list
};
struct RemoveWindow {
    WindowRef window;
};
struct MoveWindow {
    WindowRef window;
    Point to;
};
struct ResizeWindow {
    WindowRef window;
    Size size;
};
struct SetWindow {
    WindowRef window;
    Json keys;  // window keys; null removes `alpha`, `ax` and `raw`
};
struct RaiseWindow {
    WindowRef window;
};
struct Launch {
    ApplicationModel application;
};
struct ApplicationEvent {
    enum class Kind { activate, hide, unhide, terminate };
    Kind kind;
    std::int32_t pid = 0;
};
struct SwitchSpace {
    std::vector<WindowModel> windows;
};
struct FocusWindow {
    std::int32_t pid = 0;
    WindowRef window;
};
struct FocusElement {
    std::int32_t pid = 0;
    std::string element;
};
struct SetSession {
    std::optional<Json> value;
};
struct SetInput {
    Json keys;
};
struct SetTrust {
    std::optional<bool> accessibility;
    std::optional<bool> screenCapture;
};
struct PowerEvent {
    enum class Kind { screensSleep, screensWake, systemSleep, systemWake };
    Kind kind;
};
struct SetDisplay {
    DisplayID id = 0;
    Json keys;  // display keys other than `id`
};
struct SetWindowList {
    WindowListState state = WindowListState::available;
};
struct SetPicker {
    Json keys;
};
struct SetStream {
    Json keys;
};
struct StreamError {
    long code = 0;
    std::string domain;
};

}  // namespace action

using SceneAction = std::variant<action::AddWindow, action::RemoveWindow, action::MoveWindow, action::ResizeWindow,
                                 action::SetWindow, action::RaiseWindow, action::Launch, action::ApplicationEvent,
                                 action::SwitchSpace, action::FocusWindow, action::FocusElement, action::SetSession,
                                 action::SetInput, action::SetTrust, action::PowerEvent, action::SetDisplay,
                                 action::SetWindowList, action::SetPicker, action::SetStream, action::StreamError>;

// One timeline entry: an action and its time in seconds after the start.
struct TimedAction {
    double at = 0;
    SceneAction action;
};

}  // namespace scene::simulated
