#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/records.h"
#include "platform/runtime.h"
#include "platform/simulated/desktop.h"
#include "platform/simulated/process_facts.h"
#include "platform/simulated/scene.h"
#include "platform/simulated/simulated_accessibility.h"
#include "platform/simulated/simulated_screen_capture.h"
#include "platform/simulated/simulated_window_server.h"
#include "platform/simulated/simulated_workspace.h"
#include "platform/simulated/timeline_driver.h"

namespace scene::simulated {

// The scenario-driven desktop behind every platform service. Owns the shared
// desktop model, the four services over it and the scene's timeline, which
// starts playing on the runtime's main queue when the platform is built. The
// services may be called from any thread; workspace notifications and the
// timeline run on the main queue. Build it with loadScene and friends.
class SimulatedPlatform final : public Platform {
public:
    SimulatedPlatform(Scene scene, Runtime& runtime, ProcessFacts facts);
    ~SimulatedPlatform() override;

    WindowServer& windowServer() override { return windowServer_; }
    Workspace& workspace() override { return workspace_; }
    Accessibility& accessibility() override { return accessibility_; }
    ScreenCapture& screenCapture() override { return screenCapture_; }

    // Applies one timeline entry now (its `at`, if any, means nothing),
    // validated like a scene's entries. Returns the problem as
    // "<path>: <problem>", empty when applied. Notifications follow on the main
    // queue.
    std::string apply(const Json& action);

    // The last activation policy the process asked for; none before it asked.
    std::optional<ActivationPolicy> activationPolicy() const { return workspace_.activationPolicy(); }
    // The sampler's own bundle identifier, as the scene's system says.
    std::optional<std::string> ownBundleIdentifier() const;
    // A copy of the desktop as it is now.
    DesktopModel model() const { return desktop_->copy(); }
    SimulatedPicker& picker() { return screenCapture_.picker(); }

private:
    std::shared_ptr<Desktop> desktop_;
    SimulatedWindowServer windowServer_;
    SimulatedWorkspace workspace_;
    SimulatedAccessibility accessibility_;
    SimulatedScreenCapture screenCapture_;
    std::shared_ptr<TimelineDriver> timeline_;
};

}  // namespace scene::simulated
