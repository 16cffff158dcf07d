#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/rect.h"

namespace scene {

using DisplayID = std::uint32_t;

// Event types whose counters make up the input revision.
enum class InputEventType : int {
    leftMouseDown = 1,
    rightMouseDown = 3,
    otherMouseDown = 25,
    scrollWheel = 22,
    keyDown = 10,
    mouseMoved = 6,
};

// The window server: window list, displays, login session and input state.
// Callable from any thread.
class WindowServer {
public:
    virtual ~WindowServer() = default;

    // The on-screen window list without desktop elements, front to back, as the
    // server hands it out: loosely typed, so it may not be an array of objects
    // and entries may lack keys. Null when the server gives no list. The list is
    // immutable and shared, so handing it out copies nothing.
    virtual std::shared_ptr<const nlohmann::json> copyWindowList() = 0;
    // The window level of the Dock's windows.
    virtual int dockWindowLevel() = 0;

    // Number of active displays; nothing on error.
    virtual std::optional<std::uint32_t> activeDisplayCount() = 0;
    // Up to `maxDisplays` active display ids in system order; nothing on error.
    virtual std::optional<std::vector<DisplayID>> activeDisplayList(std::uint32_t maxDisplays) = 0;
    // Bounds in global points; the null rect for an unknown display.
    virtual Rect displayBounds(DisplayID display) = 0;
    virtual bool displayIsActive(DisplayID display) = 0;
    virtual bool displayIsAsleep(DisplayID display) = 0;
    // Stable identity string of the display; nothing when it cannot be made.
    virtual std::optional<std::string> displayUUID(DisplayID display) = 0;

    // The login-session dictionary; nothing when there is none.
    virtual std::optional<nlohmann::json> sessionDictionary() = 0;

    // Combined session input state.
    virtual bool leftButtonDown() = 0;
    virtual std::uint64_t modifierFlags() = 0;
    virtual std::uint32_t eventCounter(InputEventType type) = 0;

    // Whether screen capture is allowed, asked without prompting.
    virtual bool preflightScreenCaptureAccess() = 0;
};

}  // namespace scene
