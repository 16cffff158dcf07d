#include "platform/simulated/simulated_platform.h"

#include "platform/simulated/scene_parser.h"

namespace scene::simulated {

SimulatedPlatform::SimulatedPlatform(Scene scene, Runtime& runtime, ProcessFacts facts)
    : desktop_(std::make_shared<Desktop>(std::move(scene.desktop), runtime)),
      windowServer_(desktop_),
      workspace_(desktop_, std::move(facts)),
      accessibility_(desktop_),
      screenCapture_(desktop_, runtime),
      timeline_(std::make_shared<TimelineDriver>(std::move(scene.timeline), scene.repeat, desktop_, runtime)) {
    timeline_->start();
}

SimulatedPlatform::~SimulatedPlatform() = default;

std::string SimulatedPlatform::apply(const Json& action) {
    auto parsed = parseAction(action);
    if (!parsed.value) return parsed.error.describe();
    desktop_->apply(*parsed.value);
    return {};
}

std::optional<std::string> SimulatedPlatform::ownBundleIdentifier() const {
    return desktop_->read([](const DesktopModel& model) { return model.system.bundleId; });
}

}  // namespace scene::simulated
