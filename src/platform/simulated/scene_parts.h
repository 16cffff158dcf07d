#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "platform/records.h"
#include "platform/simulated/ax_node.h"
#include "platform/simulated/capture_settings.h"
#include "platform/simulated/desktop_model.h"
#include "platform/simulated/scene_reader.h"
#include "platform/simulated/window_model.h"

// Readers of the scene's parts: windows, elements, displays, applications,
// input, picker and stream settings, the system. The `apply...Keys` readers
// change only the keys an object has, so the scene's defaults and the
// timeline's "change those keys" actions go through the same code. Like every
// scene reader they throw SceneError.
namespace scene::simulated::scene_read {

inline constexpr std::array<std::string_view, 11> kWindowKeys{"pid",    "number",   "layer",  "alpha", "bounds", "fill",
                                                              "border", "titleBar", "panels", "ax",    "raw"};
inline constexpr std::array<std::string_view, 5> kDisplayChangeKeys{"bounds", "uuid", "active", "asleep", "background"};
inline constexpr std::array<std::string_view, 4> kApplicationKeys{"pid", "bundleId", "bundlePath", "ax"};
inline constexpr std::array<std::string_view, 3> kInputKeys{"leftButtonDown", "modifierFlags", "counters"};
inline constexpr std::array<std::string_view, 7> kPickerKeys{"action",      "display", "displays", "style",
                                                             "contentRect", "after",   "code"};
inline constexpr std::array<std::string_view, 7> kStreamKeys{
    "fps", "status", "latency", "deliver", "addOutputError", "startError", "stop"};

// In a change (set-window), null removes `alpha`, `ax` and `raw`; a scene's own
// windows have no use for null.
void applyWindowKeys(const ObjectReader& object, WindowModel& window, bool change);
WindowModel readWindow(const Json& value, const std::string& path);
// A front-to-back list; refuses a window id used twice.
std::vector<WindowModel> readWindows(const Json& value, const std::string& path);

AXNodePtr readElement(const Json& value, const std::string& path, std::string_view defaultRole);
ApplicationAX readApplicationAX(const Json& value, const std::string& path);
ApplicationModel readApplication(const ObjectReader& object);

// Every display key but `id`, which names the display.
void applyDisplayKeys(const ObjectReader& object, DisplayModel& display);
DisplayModel readDisplay(const Json& value, const std::string& path);

// Counters merge per event type: a change names only the counters it moves.
void applyInputKeys(const ObjectReader& object, InputModel& input);
void applyPickerKeys(const ObjectReader& object, PickerSettings& picker);
void applyStreamKeys(const ObjectReader& object, StreamSettings& stream);

SystemVersion readSystemVersion(const Json& value, const std::string& path);
SystemModel readSystem(const Json& value, const std::string& path);
WindowListState readWindowListState(const Json& value, const std::string& path);

}  // namespace scene::simulated::scene_read
