#pragma once

#include <memory>

#include "platform/simulated/desktop.h"
#include "platform/window_server.h"

namespace scene::simulated {

// The window server of the simulated desktop: reads the shared model under its
// lock. Any thread.
class SimulatedWindowServer final : public WindowServer {
public:
    explicit SimulatedWindowServer(std::shared_ptr<Desktop> desktop) : desktop_(std::move(desktop)) {}

    std::shared_ptr<const nlohmann::json> copyWindowList() override;
    int dockWindowLevel() override;
    std::optional<std::uint32_t> activeDisplayCount() override;
    std::optional<std::vector<DisplayID>> activeDisplayList(std::uint32_t maxDisplays) override;
    Rect displayBounds(DisplayID display) override;
    bool displayIsActive(DisplayID display) override;
    bool displayIsAsleep(DisplayID display) override;
    std::optional<std::string> displayUUID(DisplayID display) override;
    std::optional<nlohmann::json> sessionDictionary() override;
    bool leftButtonDown() override;
    std::uint64_t modifierFlags() override;
    std::uint32_t eventCounter(InputEventType type) override;
    bool preflightScreenCaptureAccess() override;

private:
    std::shared_ptr<Desktop> desktop_;
};

}  // namespace scene::simulated
