#include "platform/x11/x11_platform.h"

namespace scene::x11 {

std::unique_ptr<X11Platform> X11Platform::open(const std::string& displayName, Runtime& runtime) {
    auto desktop = X11Desktop::open(displayName, runtime.clock());
    if (!desktop) return nullptr;
    return std::make_unique<X11Platform>(std::move(desktop), runtime, displayName);
}

}  // namespace scene::x11
