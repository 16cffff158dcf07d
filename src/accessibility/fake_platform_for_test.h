#pragma once

// A hand-filled desktop for the accessibility samplers' unit tests: displays,
// screens, a trust switch and an element tree whose attributes the test sets,
// with geometric hit testing. Everything else answers "nothing".
// Single-threaded, like the manual runtime.

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/manual_runtime.h"
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
    ObserverToken addObserver(WorkspaceNotification, std::function<void(const WorkspaceEvent&)>) override { return 0; }
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
    // Front-to-back window elements the geometric hit test looks through.
    std::vector<Element> hitOrder;
    // Replaces the geometric hit test when set; nothing means "no element there".
    std::function<Element(float x, float y)> hitTest;
    // Called before every attribute read, for tests that let time pass or
    // change the tree while a walk runs.
    std::function<void(const Element&, std::string_view)> onRead;

    Element make() {
        Element element(std::make_shared<ElementNode>());
        attributes_[element.node()];
        keep_.push_back(element);
        return element;
    }
    // An element under `parent` (none for a window) with a role and, when
    // given, a frame in global points; it joins the end of the parent's children.
    Element add(const Element& parent, const std::string& role, std::optional<Rect> frame = std::nullopt) {
        const Element element = make();
        set(element, "AXRole", role);
        if (frame) setFrame(element, *frame);
        if (parent) {
            set(element, "AXParent", parent);
            auto& children = attributes_[parent.node()]["AXChildren"];
            if (!std::holds_alternative<std::vector<Element>>(children)) children = std::vector<Element>{};
            std::get<std::vector<Element>>(children).push_back(element);
        }
        return element;
    }
    void set(const Element& element, const std::string& name, AXValue value) {
        attributes_[element.node()][name] = std::move(value);
    }
    void setFrame(const Element& element, const Rect& frame) {
        set(element, "AXPosition", Point{frame.x, frame.y});
        set(element, "AXSize", Size{frame.width, frame.height});
    }
    // Every read of `name` (every attribute when empty) fails with `code`.
    void fail(const Element& element, const std::string& name, int code) { errors_[element.node()][name] = code; }
    void setSettable(const Element& element, const std::string& name, bool settable) {
        settable_[element.node()][name] = settable;
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
        if (onRead) onRead(element, attribute);
        if (const int code = error(element, attribute)) return {code, {}};
        const auto node = attributes_.find(element.node());
        if (node == attributes_.end()) return {ax_error::invalidElement, {}};
        const auto value = node->second.find(std::string(attribute));
        if (value == node->second.end()) return {ax_error::noValue, {}};
        return {ax_error::success, value->second};
    }
    AXResult<std::vector<Element>> copyAttributeValues(const Element& element, std::string_view attribute, int index,
                                                       int maxValues) override {
        AXResult<AXValue> read = copyAttributeValue(element, attribute);
        if (!read.ok()) return {read.code, {}};
        const auto* list = std::get_if<std::vector<Element>>(&read.value);
        if (list == nullptr) return {ax_error::illegalArgument, {}};
        const std::size_t from = std::min<std::size_t>(index, list->size());
        const std::size_t to = std::min<std::size_t>(from + maxValues, list->size());
        return {ax_error::success, std::vector<Element>(list->begin() + from, list->begin() + to)};
    }
    AXResult<bool> isAttributeSettable(const Element& element, std::string_view attribute) override {
        const auto node = settable_.find(element.node());
        if (node == settable_.end()) return {ax_error::failure, {}};
        const auto value = node->second.find(std::string(attribute));
        if (value == node->second.end()) return {ax_error::failure, {}};
        return {ax_error::success, value->second};
    }
    // The deepest element whose frame holds the point, in the front-most
    // window that holds it; later children lie over earlier ones.
    AXResult<Element> elementAtPosition(const Element&, float x, float y) override {
        const Point point{x, y};
        Element found;
        if (hitTest) {
            found = hitTest(x, y);
        } else {
            for (const Element& window : hitOrder) {
                if (holds(window, point)) {
                    found = deepest(window, point);
                    break;
                }
            }
        }
        if (!found) return {ax_error::noValue, {}};
        return {ax_error::success, found};
    }
    AXResult<std::int32_t> processIdentifier(const Element&) override { return {ax_error::failure, 0}; }
    std::unique_ptr<AXObserver> createObserver(std::int32_t, AXObserverCallback) override { return nullptr; }

private:
    int error(const Element& element, std::string_view attribute) const {
        const auto node = errors_.find(element.node());
        if (node == errors_.end()) return ax_error::success;
        for (const std::string& name : {std::string(attribute), std::string()}) {
            if (const auto code = node->second.find(name); code != node->second.end()) return code->second;
        }
        return ax_error::success;
    }
    const AXValue* stored(const Element& element, const std::string& name) const {
        const auto node = attributes_.find(element.node());
        if (node == attributes_.end()) return nullptr;
        const auto value = node->second.find(name);
        return value == node->second.end() ? nullptr : &value->second;
    }
    bool holds(const Element& element, Point point) const {
        const AXValue* position = stored(element, "AXPosition");
        const AXValue* size = stored(element, "AXSize");
        if (position == nullptr || size == nullptr) return false;
        const Point origin = std::get<Point>(*position);
        const Size extent = std::get<Size>(*size);
        return Rect{origin.x, origin.y, extent.width, extent.height}.contains(point);
    }
    Element deepest(const Element& element, Point point) const {
        if (const AXValue* children = stored(element, "AXChildren")) {
            const auto& list = std::get<std::vector<Element>>(*children);
            for (auto child = list.rbegin(); child != list.rend(); ++child) {
                if (holds(*child, point)) return deepest(*child, point);
            }
        }
        return element;
    }

    std::map<const ElementNode*, std::map<std::string, AXValue>> attributes_;
    std::map<const ElementNode*, std::map<std::string, int>> errors_;
    std::map<const ElementNode*, std::map<std::string, bool>> settable_;
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

// The manual runtime with a clock that runs ahead by what the test adds while a
// walk runs on the test's thread (the manual runtime itself may not advance
// from inside a task).
class SteppedRuntime final : public Runtime {
public:
    explicit SteppedRuntime(ManualRuntime& base) : base_(base), clock_(*this) {}

    double ahead = 0;

    Clock& clock() override { return clock_; }
    Queue& mainQueue() override { return base_.mainQueue(); }
    std::unique_ptr<Queue> makeSerialQueue(std::string_view label) override { return base_.makeSerialQueue(label); }
    std::unique_ptr<RepeatingTimer> makeTimer(Task handler) override { return base_.makeTimer(std::move(handler)); }
    StandardStreams& standardStreams() override { return base_.standardStreams(); }
    int run() override { return base_.run(); }
    void requestExit(int status) override { base_.requestExit(status); }
    bool exitRequested() const override { return base_.exitRequested(); }

private:
    class SteppedClock final : public Clock {
    public:
        explicit SteppedClock(SteppedRuntime& owner) : owner_(owner) {}
        double uptime() const override { return owner_.base_.now() + owner_.ahead; }
        double wallSeconds() const override { return owner_.base_.clock().wallSeconds() + owner_.ahead; }
        double threadCPUSeconds() const override { return owner_.base_.clock().threadCPUSeconds(); }

    private:
        SteppedRuntime& owner_;
    };

    ManualRuntime& base_;
    SteppedClock clock_;
};

}  // namespace scene::fakes
