#include "platform/simulated/simulated_window_server.h"

#include <string>

namespace scene::simulated {

std::shared_ptr<const nlohmann::json> SimulatedWindowServer::copyWindowList() { return desktop_->windowList(); }

int SimulatedWindowServer::dockWindowLevel() {
    return desktop_->read([](const DesktopModel& model) { return model.system.dockLevel; });
}

std::optional<std::uint32_t> SimulatedWindowServer::activeDisplayCount() {
    return desktop_->read(
        [](const DesktopModel& model) { return static_cast<std::uint32_t>(model.activeDisplays().size()); });
}

std::optional<std::vector<DisplayID>> SimulatedWindowServer::activeDisplayList(std::uint32_t maxDisplays) {
    auto ids = desktop_->read([](const DesktopModel& model) { return model.activeDisplays(); });
    if (ids.size() > maxDisplays) ids.resize(maxDisplays);
    return ids;
}

Rect SimulatedWindowServer::displayBounds(DisplayID display) {
    return desktop_->read([display](const DesktopModel& model) {
        const DisplayModel* found = model.display(display);
        return found != nullptr ? found->bounds : Rect::null();
    });
}

bool SimulatedWindowServer::displayIsActive(DisplayID display) {
    return desktop_->read([display](const DesktopModel& model) {
        const DisplayModel* found = model.display(display);
        return found != nullptr && found->active;
    });
}

bool SimulatedWindowServer::displayIsAsleep(DisplayID display) {
    return desktop_->read([display](const DesktopModel& model) {
        const DisplayModel* found = model.display(display);
        return found != nullptr && found->asleep;
    });
}

std::optional<std::string> SimulatedWindowServer::displayUUID(DisplayID display) {
    return desktop_->read([display](const DesktopModel& model) -> std::optional<std::string> {
        const DisplayModel* found = model.display(display);
        return found != nullptr ? found->uuid : std::nullopt;
    });
}

std::optional<nlohmann::json> SimulatedWindowServer::sessionDictionary() {
    return desktop_->read([](const DesktopModel& model) { return model.session; });
}

bool SimulatedWindowServer::leftButtonDown() {
    return desktop_->read([](const DesktopModel& model) { return model.input.leftButtonDown; });
}

std::uint64_t SimulatedWindowServer::modifierFlags() {
    return desktop_->read([](const DesktopModel& model) { return model.input.modifierFlags; });
}

std::uint32_t SimulatedWindowServer::eventCounter(InputEventType type) {
    const auto key = std::to_string(static_cast<int>(type));
    return desktop_->read([&key](const DesktopModel& model) -> std::uint32_t {
        const auto it = model.input.counters.find(key);
        return it != model.input.counters.end() ? it->second : 0;
    });
}

bool SimulatedWindowServer::preflightScreenCaptureAccess() {
    return desktop_->read([](const DesktopModel& model) { return model.system.screenCapture; });
}

}  // namespace scene::simulated
