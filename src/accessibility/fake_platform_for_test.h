#pragma once

// A hand-filled desktop for the accessibility samplers' unit tests: displays,
// screens, a trust switch and an element tree whose attributes the test sets.
// Everything else answers "nothing". Single-threaded, like the manual runtime.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace scene::fakes {

class FakeWindowServer final : public WindowServer {
public:
    std::map<DisplayID, Rect> displays;
    int dockLevel = 20;

    std::shared_ptr<const nlohmann::json> copyWindowList() override { return nullptr; }
    int dockWindowLevel() override { return dockLevel; }
    std::optional<std::uint32_t> activeDisplayCount() override { return std::nullopt; }
    std::optional<std::vector<DisplayID>> activeDisplayList(std::uint32_t) override { return std::nullopt; }
    Rect displayBounds(DisplayID display) override {
        const auto it = displays.find(display);
        return it == displays.end() ? Rect::null() : it->second;
    }
    bool displayIsActive(DisplayID) override { return true; }
    bool displayIsAsleep(DisplayID) override { return false; }
    std::optional<std::string> displayUUID(DisplayID) override { return std::nullopt; }
    std::optional<nlohmann::json> sessionDictionary() override { return std::nullopt; }
    bool leftButtonDown() override { return false; }
    std::uint64_t modifierFlags() override { return 0; }
    std::uint32_t eventCounter(InputEventType) override { return 0; }
    bool preflightScreenCaptureAccess() override { return false; }
};

class FakeWorkspace final : public Workspace {
public:
    std::vector<Screen> screenList;

    std::optional<RunningApplication> frontmostApplication() override { return std::nullopt; }
    std::vector<RunningApplication> runningApplications(std::string_view) override { return {}; }
    std::optional<RunningApplication> runningApplication(std::int32_t) override { return std::nullopt; }
    std::optional<std::string> bundlePath(std::int32_t) override { return std::nullopt; }
    std::vector<Screen> screens() override { return screenList; }
    ObserverToken addObserver(WorkspaceNotification, std::function<void(const WorkspaceEvent&)>) override {
        return 0;
    }
    void removeObserver(ObserverToken) override {}
    void setActivationPolicy(ActivationPolicy) override {}
    std::string homeDirectory() override { return "/home/test"; }
    std::int32_t processIdentifier() override { return 1; }
    std::int32_t parentProcessIdentifier() override { return 0; }
    SystemVersion systemVersion() override { return {15, 0, 0}; }
};

class FakeAccessibility final : public Accessibility {
public:
    bool trusted = true;
    int attributeReads = 0;

    Element make() {
        Element element(std::make_shared<ElementNode>());
        attributes_[element.node()];
        keep_.push_back(element);
        return element;
    }
    void set(const Element& element, const std::string& name, AXValue value) {
        attributes_[element.node()][name] = std::move(value);
    }
    void setApplication(std::int32_t pid, const Element& element) { applications_[pid] = element; }

    bool isProcessTrusted() override { return trusted; }
    Element applicationElement(std::int32_t pid) override {
        const auto it = applications_.find(pid);
        return it == applications_.end() ? make() : it->second;
    }
    void setMessagingTimeout(const Element&, double) override {}
    AXResult<AXValue> copyAttributeValue(const Element& element, std::string_view attribute) override {
        ++attributeReads;
        const auto node = attributes_.find(element.node());
        if (node == attributes_.end()) return {ax_error::invalidElement, {}};
        const auto value = node->second.find(std::string(attribute));
        if (value == node->second.end()) return {ax_error::noValue, {}};
        return {ax_error::success, value->second};
    }
    AXResult<std::vector<Element>> copyAttributeValues(const Element&, std::string_view, int, int) override {
        return {ax_error::noValue, {}};
    }
    AXResult<bool> isAttributeSettable(const Element&, std::string_view) override { return {ax_error::failure, {}}; }
    AXResult<Element> elementAtPosition(const Element&, float, float) override { return {ax_error::noValue, {}}; }
    AXResult<std::int32_t> processIdentifier(const Element&) override { return {ax_error::failure, 0}; }
    std::unique_ptr<AXObserver> createObserver(std::int32_t, AXObserverCallback) override { return nullptr; }

private:
    std::map<const ElementNode*, std::map<std::string, AXValue>> attributes_;
    std::map<std::int32_t, Element> applications_;
    std::vector<Element> keep_;
};

class FakePicker final : public ContentSharingPicker {
public:
    void addObserver(PickerObserver&) override {}
    void removeObserver(PickerObserver&) override {}
    void setConfiguration(const PickerConfiguration&) override {}
    void setActive(bool) override {}
    void presentForDisplayContent() override {}
    void presentForStream(CaptureStream&) override {}
};

class FakeScreenCapture final : public ScreenCapture {
public:
    ContentSharingPicker& sharedPicker() override { return picker_; }
    std::shared_ptr<CaptureStream> createStream(const ContentFilter&, const StreamConfiguration&,
                                                StreamDelegate&) override {
        return nullptr;
    }
    double hostTimeNow() override { return 0; }

private:
    FakePicker picker_;
};

class FakePlatform final : public Platform {
public:
    FakeWindowServer server;
    FakeWorkspace space;
    FakeAccessibility ax;
    FakeScreenCapture capture;

    WindowServer& windowServer() override { return server; }
    Workspace& workspace() override { return space; }
    Accessibility& accessibility() override { return ax; }
    ScreenCapture& screenCapture() override { return capture; }
};

}  // namespace scene::fakes
