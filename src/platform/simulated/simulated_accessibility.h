#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "platform/accessibility.h"
#include "platform/simulated/ax_node.h"
#include "platform/simulated/desktop.h"

namespace scene::simulated {

// The accessibility interface of the simulated desktop. Trust, application
// elements and element process ids answer from the shared model; attribute
// reads, hit testing and observers do not exist yet and fail with
// cannotComplete (or no observer), which callers already treat as "no value".
// Any thread: samplers call it from their own queues.
class SimulatedAccessibility final : public Accessibility {
public:
    explicit SimulatedAccessibility(std::shared_ptr<Desktop> desktop) : desktop_(std::move(desktop)) {}

    bool isProcessTrusted() override;
    Element applicationElement(std::int32_t processIdentifier) override;
    void setMessagingTimeout(const Element& element, double seconds) override;
    AXResult<AXValue> copyAttributeValue(const Element& element, std::string_view attribute) override;
    AXResult<std::vector<Element>> copyAttributeValues(const Element& element, std::string_view attribute, int index,
                                                       int maxValues) override;
    AXResult<bool> isAttributeSettable(const Element& element, std::string_view attribute) override;
    AXResult<Element> elementAtPosition(const Element& application, float x, float y) override;
    AXResult<std::int32_t> processIdentifier(const Element& element) override;
    std::unique_ptr<AXObserver> createObserver(std::int32_t processIdentifier, AXObserverCallback callback) override;

private:
    std::shared_ptr<Desktop> desktop_;
    std::mutex applicationsMutex_;
    std::map<std::int32_t, std::shared_ptr<const ApplicationElementNode>> applications_;
};

}  // namespace scene::simulated
