#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/accessibility.h"
#include "platform/simulated/ax_observer_hub.h"

namespace scene::simulated {

// One application's focus observer on the simulated desktop: its entry in the
// hub, removed when it goes. Hears the focus notifications registered on the
// application's element, on the main queue, while attached. Used on the main
// queue by its owner; outliving the platform is harmless.
class SimulatedAXObserver final : public AXObserver {
public:
    SimulatedAXObserver(const std::shared_ptr<AXObserverHub>& hub, std::int32_t pid, AXObserverCallback callback);
    ~SimulatedAXObserver() override;
    SimulatedAXObserver(const SimulatedAXObserver&) = delete;
    SimulatedAXObserver& operator=(const SimulatedAXObserver&) = delete;

    int addNotification(const Element& element, std::string_view notification) override;
    void attachToMainLoop() override;
    void detachFromMainLoop() override;

private:
    std::weak_ptr<AXObserverHub> hub_;
    std::int32_t pid_;
    AXObserverHub::Id id_ = 0;
};

}  // namespace scene::simulated
