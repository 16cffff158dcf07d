#include "platform/simulated/simulated_accessibility.h"

namespace scene::simulated {

bool SimulatedAccessibility::isProcessTrusted() {
    return desktop_->read([](const DesktopModel& model) { return model.system.accessibility; });
}

Element SimulatedAccessibility::applicationElement(std::int32_t processIdentifier) {
    std::lock_guard lock(applicationsMutex_);
    auto& node = applications_[processIdentifier];
    if (!node) node = std::make_shared<const ApplicationElementNode>(processIdentifier);
    return Element(node);
}

void SimulatedAccessibility::setMessagingTimeout(const Element&, double) {}

AXResult<AXValue> SimulatedAccessibility::copyAttributeValue(const Element&, std::string_view) {
    return {ax_error::cannotComplete, {}};
}

AXResult<std::vector<Element>> SimulatedAccessibility::copyAttributeValues(const Element&, std::string_view, int, int) {
    return {ax_error::cannotComplete, {}};
}

AXResult<bool> SimulatedAccessibility::isAttributeSettable(const Element&, std::string_view) {
    return {ax_error::cannotComplete, false};
}

AXResult<Element> SimulatedAccessibility::elementAtPosition(const Element&, float, float) {
    return {ax_error::cannotComplete, {}};
}

AXResult<std::int32_t> SimulatedAccessibility::processIdentifier(const Element& element) {
    if (const auto* application = dynamic_cast<const ApplicationElementNode*>(element.node()))
        return {ax_error::success, application->pid};
    const auto* node = dynamic_cast<const AXNode*>(element.node());
    if (node == nullptr) return {ax_error::invalidElement, 0};
    return desktop_->read([node](const DesktopModel& model) -> AXResult<std::int32_t> {
        if (const WindowModel* window = model.windowShowing(*node)) return {ax_error::success, window->pid};
        const AXNode* root = axRoot(*node);
        for (const auto& application : model.applications) {
            for (const auto& child : application.ax.children) {
                if (child.get() == root) return {ax_error::success, application.pid};
            }
        }
        return {ax_error::invalidElement, 0};
    });
}

std::unique_ptr<AXObserver> SimulatedAccessibility::createObserver(std::int32_t, AXObserverCallback) { return nullptr; }

}  // namespace scene::simulated
