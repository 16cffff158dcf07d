#include "platform/x11/x11_platform.h"

#include <cstdlib>

namespace scene::x11 {

std::optional<std::string> X11Platform::sessionBus() {
    return atspi::sessionBusAddress(std::getenv("DBUS_SESSION_BUS_ADDRESS"), std::getenv("XDG_RUNTIME_DIR"));
}

std::unique_ptr<X11Platform> X11Platform::open(const std::string& displayName, Runtime& runtime) {
    auto desktop = X11Desktop::open(displayName, runtime.clock());
    if (!desktop) return nullptr;
    return std::make_unique<X11Platform>(std::move(desktop), runtime, displayName);
}

}  // namespace scene::x11
