#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "platform/accessibility.h"
#include "platform/simulated/ax_node.h"
#include "platform/simulated/ax_observer_hub.h"
#include "platform/simulated/desktop.h"

namespace scene::simulated {

// The accessibility interface of the simulated desktop. Elements are the
// scene's immutable nodes, so handles stay valid and comparable while the
// timeline changes the model; each read finds where its node sits in the
// model now (which window shows it, which application owns it) under the
// desktop's lock, so frames follow moved windows and elements of trees that
// are gone fail as invalid. Owns the application elements (one per process
// id) and the focus observers' hub. Any thread: samplers call it from their
// own queues; observers hear focus changes on the main queue.
class SimulatedAccessibility final : public Accessibility {
public:
    explicit SimulatedAccessibility(std::shared_ptr<Desktop> desktop);
    ~SimulatedAccessibility() override;
    SimulatedAccessibility(const SimulatedAccessibility&) = delete;
    SimulatedAccessibility& operator=(const SimulatedAccessibility&) = delete;

    bool isProcessTrusted() override;
    Element applicationElement(std::int32_t processIdentifier) override;
    void setMessagingTimeout(const Element& element, double seconds) override;
    AXResult<AXValue> copyAttributeValue(const Element& element, std::string_view attribute) override;
    AXResult<std::vector<Element>> copyAttributeValues(const Element& element, std::string_view attribute, int index,
                                                       int maxValues) override;
    AXResult<bool> isAttributeSettable(const Element& element, std::string_view attribute) override;
    // Hit testing is not confined to the asking application: the front-most
    // window under the point answers, whoever owns it, so a control covered
    // by another application's window is found to be covered.
    AXResult<Element> elementAtPosition(const Element& application, float x, float y) override;
    AXResult<std::int32_t> processIdentifier(const Element& element) override;
    std::unique_ptr<AXObserver> createObserver(std::int32_t processIdentifier, AXObserverCallback callback) override;

private:
    AXResult<AXValue> applicationAttribute(const DesktopModel& model, const ApplicationModel& application,
                                           std::string_view attribute);
    AXResult<AXValue> nodeAttribute(const ApplicationModel& application, const WindowModel* window, const AXNode& node,
                                    std::string_view attribute);

    std::shared_ptr<Desktop> desktop_;
    std::shared_ptr<AXObserverHub> observers_ = std::make_shared<AXObserverHub>();
    ObserverToken focusToken_ = 0;
    // Taken after the desktop's lock when both are held, never before it.
    std::mutex applicationsMutex_;
    std::map<std::int32_t, std::shared_ptr<const ApplicationElementNode>> applications_;
};

}  // namespace scene::simulated
