#include "platform/simulated/simulated_accessibility.h"

#include <algorithm>
#include <utility>

#include "platform/simulated/simulated_ax_observer.h"

namespace scene::simulated {

namespace {

constexpr std::string_view kFocusedWindow = "AXFocusedWindow";
constexpr std::string_view kFocusedUIElement = "AXFocusedUIElement";
constexpr std::string_view kRole = "AXRole";
constexpr std::string_view kSubrole = "AXSubrole";
constexpr std::string_view kHidden = "AXHidden";
constexpr std::string_view kEnabled = "AXEnabled";
constexpr std::string_view kEditable = "AXEditable";
constexpr std::string_view kPosition = "AXPosition";
constexpr std::string_view kSize = "AXSize";
constexpr std::string_view kParent = "AXParent";
constexpr std::string_view kChildren = "AXChildren";
constexpr std::string_view kVisibleChildren = "AXVisibleChildren";
constexpr std::string_view kValue = "AXValue";
constexpr std::string_view kApplicationRole = "AXApplication";

// Where an element sits in the model right now. Found under the desktop lock
// and only good while it is held.
struct Placement {
    int code = ax_error::success;
    const ApplicationModel* application = nullptr;
    const WindowModel* window = nullptr;  // none: the application element or an application-level element
    const AXNode* node = nullptr;         // none: the application element
};

Placement failed(int code) { return {code, nullptr, nullptr, nullptr}; }

Placement place(const DesktopModel& model, const Element& element) {
    if (!element) return failed(ax_error::illegalArgument);
    if (const auto* application = dynamic_cast<const ApplicationElementNode*>(element.node())) {
        const ApplicationModel* running = model.application(application->pid);
        // The process is not running (any more): nobody answers.
        if (running == nullptr) return failed(ax_error::cannotComplete);
        return {ax_error::success, running, nullptr, nullptr};
    }
    const auto* node = dynamic_cast<const AXNode*>(element.node());
    if (node == nullptr) return failed(ax_error::invalidElement);
    const AXNode* root = axRoot(*node);
    for (const auto& window : model.windows) {
        if (window.ax.get() != root) continue;
        const ApplicationModel* owner = model.application(window.pid);
        if (owner == nullptr) break;
        return {ax_error::success, owner, &window, node};
    }
    for (const auto& application : model.applications) {
        for (const auto& child : application.ax.children) {
            if (child.get() == root) return {ax_error::success, &application, nullptr, node};
        }
    }
    return failed(ax_error::invalidElement);
}

// As `place`, and also refuses what the scene says cannot be read: nothing
// without trust, nothing of an application with an error, nothing of an
// element with one.
Placement placeForRead(const DesktopModel& model, const Element& element) {
    if (!model.system.accessibility) return failed(ax_error::apiDisabled);
    Placement placement = place(model, element);
    if (placement.code != ax_error::success) return placement;
    if (placement.application->ax.error) return failed(*placement.application->ax.error);
    if (placement.node != nullptr && placement.node->error) return failed(*placement.node->error);
    return placement;
}

template <typename T>
AXResult<AXValue> optionalValue(const std::optional<T>& value) {
    if (!value) return {ax_error::attributeUnsupported, {}};
    return {ax_error::success, *value};
}

AXResult<AXValue> elementValue(const AXNodePtr& node) {
    if (!node) return {ax_error::noValue, {}};
    return {ax_error::success, Element(node)};
}

std::vector<Element> elements(const std::vector<AXNodePtr>& nodes) {
    std::vector<Element> list;
    list.reserve(nodes.size());
    for (const auto& node : nodes) list.emplace_back(node);
    return list;
}

std::vector<Element> visibleChildren(const AXNode& node) {
    if (!node.visibleChildren) return elements(node.children);
    std::vector<Element> list;
    list.reserve(node.visibleChildren->size());
    for (const auto& id : *node.visibleChildren) {
        const auto child = std::find_if(node.children.begin(), node.children.end(),
                                        [&id](const AXNodePtr& candidate) { return candidate->id == id; });
        if (child != node.children.end()) list.emplace_back(*child);
    }
    return list;
}

}  // namespace

SimulatedAccessibility::SimulatedAccessibility(std::shared_ptr<Desktop> desktop) : desktop_(std::move(desktop)) {
    focusToken_ = desktop_->addAccessibilityObserver(
        [hub = std::weak_ptr<AXObserverHub>(observers_)](const AccessibilityNotice& notice, const AXNodePtr& focused) {
            if (const auto observers = hub.lock()) observers->deliver(notice, focused);
        });
}

SimulatedAccessibility::~SimulatedAccessibility() { desktop_->removeAccessibilityObserver(focusToken_); }

bool SimulatedAccessibility::isProcessTrusted() {
    return desktop_->read([](const DesktopModel& model) { return model.system.accessibility; });
}

Element SimulatedAccessibility::applicationElement(std::int32_t processIdentifier) {
    std::lock_guard lock(applicationsMutex_);
    auto& node = applications_[processIdentifier];
    if (!node) node = std::make_shared<const ApplicationElementNode>(processIdentifier);
    return Element(node);
}

// Simulated reads never block, so there is nothing to time out.
void SimulatedAccessibility::setMessagingTimeout(const Element&, double) {}

AXResult<AXValue> SimulatedAccessibility::copyAttributeValue(const Element& element, std::string_view attribute) {
    return desktop_->read([&](const DesktopModel& model) -> AXResult<AXValue> {
        const Placement placement = placeForRead(model, element);
        if (placement.code != ax_error::success) return {placement.code, {}};
        if (placement.node == nullptr) return applicationAttribute(model, *placement.application, attribute);
        return nodeAttribute(*placement.application, placement.window, *placement.node, attribute);
    });
}

AXResult<AXValue> SimulatedAccessibility::applicationAttribute(const DesktopModel& model,
                                                               const ApplicationModel& application,
                                                               std::string_view attribute) {
    if (attribute == kRole) return {ax_error::success, std::string(kApplicationRole)};
    if (attribute == kFocusedWindow) return elementValue(model.focusedWindowElement(application.pid));
    if (attribute == kFocusedUIElement) return elementValue(model.focusedElement(application.pid));
    if (attribute == kHidden) return {ax_error::success, application.hidden};
    if (attribute == kParent) return {ax_error::noValue, {}};
    if (attribute == kChildren) {
        // The scene's own application-level elements first (the Dock's list
        // is its first child), then the application's windows front to back.
        std::vector<Element> children = elements(application.ax.children);
        for (const auto& window : model.windows) {
            if (window.pid == application.pid && window.ax) children.emplace_back(window.ax);
        }
        return {ax_error::success, std::move(children)};
    }
    return {ax_error::attributeUnsupported, {}};
}

AXResult<AXValue> SimulatedAccessibility::nodeAttribute(const ApplicationModel& application, const WindowModel* window,
                                                        const AXNode& node, std::string_view attribute) {
    if (attribute == kRole) return {ax_error::success, node.role};
    if (attribute == kSubrole) return optionalValue(node.subrole);
    if (attribute == kHidden) return optionalValue(node.hidden);
    if (attribute == kEnabled) return optionalValue(node.enabled);
    if (attribute == kEditable) return optionalValue(node.editable);
    if (attribute == kPosition || attribute == kSize) {
        const bool windowElement = window != nullptr && window->ax.get() == &node;
        const auto frame =
            axGlobalFrame(node, window != nullptr ? std::optional(window->bounds) : std::nullopt, windowElement);
        if (!frame) return {ax_error::attributeUnsupported, {}};
        if (attribute == kPosition) return {ax_error::success, Point{frame->x, frame->y}};
        return {ax_error::success, Size{frame->width, frame->height}};
    }
    if (attribute == kParent) {
        // The placement found the tree in the model, so every ancestor is alive.
        if (auto parent = node.parent.lock()) return {ax_error::success, Element(std::move(parent))};
        return {ax_error::success, applicationElement(application.pid)};
    }
    if (attribute == kChildren) return {ax_error::success, elements(node.children)};
    if (attribute == kVisibleChildren) return {ax_error::success, visibleChildren(node)};
    return {ax_error::attributeUnsupported, {}};
}

AXResult<std::vector<Element>> SimulatedAccessibility::copyAttributeValues(const Element& element,
                                                                           std::string_view attribute, int index,
                                                                           int maxValues) {
    if (index < 0 || maxValues < 0) return {ax_error::illegalArgument, {}};
    return listSlice(copyAttributeValue(element, attribute), index, maxValues);
}

AXResult<bool> SimulatedAccessibility::isAttributeSettable(const Element& element, std::string_view attribute) {
    return desktop_->read([&](const DesktopModel& model) -> AXResult<bool> {
        const Placement placement = placeForRead(model, element);
        if (placement.code != ax_error::success) return {placement.code, false};
        // Nothing else is ever written through the simulated interface.
        if (attribute != kValue) return {ax_error::success, false};
        if (placement.node == nullptr || !placement.node->valueSettable) return {ax_error::attributeUnsupported, false};
        return {ax_error::success, *placement.node->valueSettable};
    });
}

AXResult<Element> SimulatedAccessibility::elementAtPosition(const Element& application, float x, float y) {
    if (dynamic_cast<const ApplicationElementNode*>(application.node()) == nullptr)
        return {ax_error::illegalArgument, {}};
    const Point point{x, y};
    return desktop_->read([&](const DesktopModel& model) -> AXResult<Element> {
        const Placement placement = placeForRead(model, application);
        if (placement.code != ax_error::success) return {placement.code, {}};
        for (const auto& window : model.windows) {
            // What the window list leaves out is not on screen to be hit; a
            // raw window is only a list entry and is not drawn either.
            if (window.raw) continue;
            const ApplicationModel* owner = model.application(window.pid);
            if (owner != nullptr && owner->hidden) continue;
            if (!window.bounds.contains(point)) continue;
            if (!window.ax) return {ax_error::noValue, {}};
            return {ax_error::success, Element(axNodeAt(window.ax, window.bounds, point))};
        }
        return {ax_error::noValue, {}};
    });
}

AXResult<std::int32_t> SimulatedAccessibility::processIdentifier(const Element& element) {
    return desktop_->read([&](const DesktopModel& model) -> AXResult<std::int32_t> {
        if (const auto* application = dynamic_cast<const ApplicationElementNode*>(element.node()))
            return {ax_error::success, application->pid};
        const Placement placement = place(model, element);
        if (placement.code != ax_error::success) return {placement.code, 0};
        return {ax_error::success, placement.application->pid};
    });
}

std::unique_ptr<AXObserver> SimulatedAccessibility::createObserver(std::int32_t processIdentifier,
                                                                   AXObserverCallback callback) {
    if (processIdentifier <= 0 || !callback) return nullptr;
    return std::make_unique<SimulatedAXObserver>(observers_, processIdentifier, std::move(callback));
}

}  // namespace scene::simulated
