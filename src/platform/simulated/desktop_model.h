#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/records.h"
#include "platform/rect.h"
#include "platform/simulated/ax_node.h"
#include "platform/simulated/capture_settings.h"
#include "platform/simulated/window_model.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace scene::simulated {

inline constexpr Color kDefaultDisplayBackground = 0x30507a;

struct SystemModel {
    SystemVersion version{14, 5, 0};
    bool accessibility = true;  // Accessibility access granted
    bool screenCapture = true;  // screen-capture preflight
    std::string home = "/Users/demo";
    std::optional<std::string> bundleId;  // the sampler's own bundle identifier
    int dockLevel = 20;
};

struct DisplayModel {
    DisplayID id = 0;
    Rect bounds;
    std::optional<std::string> uuid;  // none: the identity cannot be made
    bool active = true;
    bool asleep = false;
    Color background = kDefaultDisplayBackground;
};

// Application-level accessibility: elements hung directly below the
// application element (the Dock's AXList), and an error every read returns.
struct ApplicationAX {
    std::vector<AXNodePtr> children;
    std::optional<int> error;
};

struct ApplicationModel {
    std::int32_t pid = 0;
    std::optional<std::string> bundleId;
    std::optional<std::string> bundlePath;
    ApplicationAX ax;
    bool hidden = false;
    // Set by the timeline's focus events; until then the scene's own rules decide.
    std::optional<WindowRef> focusedWindow;
    std::optional<std::string> focusedElement;

    RunningApplication running() const { return {pid, bundleId}; }
};

struct InputModel {
    bool leftButtonDown = false;
    std::uint64_t modifierFlags = 0;
    std::map<std::string, std::uint32_t, std::less<>> counters;  // event type in decimal -> count
};

enum class WindowListState { available, unavailable, malformed };

// The whole simulated desktop at one moment: what every service reads and the
// timeline changes. A plain value: the live one sits behind the Desktop's lock,
// tests build and inspect copies.
struct DesktopModel {
    SystemModel system;
    std::vector<DisplayModel> displays;          // active display list order, also screen order
    std::vector<ApplicationModel> applications;  // running applications, launch order
    std::optional<std::int32_t> frontmost;
    std::optional<Json> session;
    InputModel input;
    std::vector<WindowModel> windows;  // front to back, hidden applications' windows included
    WindowListState windowList = WindowListState::available;
    PickerSettings picker;
    StreamSettings stream;

    const ApplicationModel* application(std::int32_t pid) const;
    ApplicationModel* application(std::int32_t pid);
    const DisplayModel* display(DisplayID id) const;
    DisplayModel* display(DisplayID id);
    const WindowModel* window(const WindowRef& ref) const;
    WindowModel* window(const WindowRef& ref);

    // The window server's on-screen list as the scene's `windowList` state says.
    std::optional<Json> copyWindowList() const;
    std::vector<DisplayID> activeDisplays() const;

    // The application's AXFocusedWindow: the window named by the last focus
    // event while it still exists, else its front-most window that has one.
    AXNodePtr focusedWindowElement(std::int32_t pid) const;
    // The application's AXFocusedUIElement: the element named by the last
    // focus event while it exists, else the first element marked `focused`
    // (windows front to back, then the application's own children).
    AXNodePtr focusedElement(std::int32_t pid) const;
    // The window whose tree holds the node; none for application-level
    // elements and for trees no window shows any more.
    const WindowModel* windowShowing(const AXNode& node) const;

    // Every process that owns a window runs an application.
    void addMissingApplications();
};

// The identity string of a display whose scene gives none: stable for the id.
std::string defaultDisplayUUID(DisplayID id);

}  // namespace scene::simulated
