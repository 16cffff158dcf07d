#pragma once

#include "platform/accessibility.h"

namespace scene::x11 {

// Accessibility of an X desktop is not wired up: the process is never
// trusted, and every read answers that the interface is disabled. Any thread.
class X11Accessibility final : public Accessibility {
public:
    bool isProcessTrusted() override { return false; }
    Element applicationElement(std::int32_t) override { return {}; }
    void setMessagingTimeout(const Element&, double) override {}
    AXResult<AXValue> copyAttributeValue(const Element&, std::string_view) override {
        return {ax_error::apiDisabled, {}};
    }
    AXResult<std::vector<Element>> copyAttributeValues(const Element&, std::string_view, int, int) override {
        return {ax_error::apiDisabled, {}};
    }
    AXResult<bool> isAttributeSettable(const Element&, std::string_view) override {
        return {ax_error::apiDisabled, false};
    }
    AXResult<Element> elementAtPosition(const Element&, float, float) override { return {ax_error::apiDisabled, {}}; }
    AXResult<std::int32_t> processIdentifier(const Element&) override { return {ax_error::apiDisabled, 0}; }
    std::unique_ptr<AXObserver> createObserver(std::int32_t, AXObserverCallback) override { return nullptr; }
};

}  // namespace scene::x11
