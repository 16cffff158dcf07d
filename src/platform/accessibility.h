#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/rect.h"

namespace scene {

// Accessibility result codes the logic tells apart.
namespace ax_error {
constexpr int success = 0;
constexpr int failure = -25200;
constexpr int illegalArgument = -25201;
constexpr int invalidElement = -25202;
constexpr int cannotComplete = -25204;
constexpr int attributeUnsupported = -25205;
constexpr int noValue = -25212;
constexpr int apiDisabled = -25211;
}  // namespace ax_error

// What an element handle points at; each implementation derives its own.
class ElementNode {
public:
    virtual ~ElementNode() = default;
};

// A handle to an accessibility element. Two handles are equal exactly when they
// name the same element.
class Element {
public:
    Element() = default;
    explicit Element(std::shared_ptr<const ElementNode> node) : node_(std::move(node)) {}
    const ElementNode* node() const { return node_.get(); }
    explicit operator bool() const { return node_ != nullptr; }
    bool operator==(const Element& other) const { return node_ == other.node_; }

private:
    std::shared_ptr<const ElementNode> node_;
};

// An attribute value as read: nothing, a flag, a number, text, a point or size
// value, one element or a list of elements.
using AXValue = std::variant<std::monostate, bool, double, std::string, Point, Size, Element, std::vector<Element>>;

template <typename T>
struct AXResult {
    int code = ax_error::success;  // 0 on success, otherwise an Accessibility error
    T value{};
    bool ok() const { return code == ax_error::success; }
};

inline constexpr std::string_view kFocusedWindowChanged = "AXFocusedWindowChanged";
inline constexpr std::string_view kFocusedUIElementChanged = "AXFocusedUIElementChanged";

// An observer of one application's accessibility notifications. Its callback
// runs on the main queue while it is attached to the main loop.
class AXObserver {
public:
    virtual ~AXObserver() = default;
    virtual int addNotification(const Element& element, std::string_view notification) = 0;
    virtual void attachToMainLoop() = 0;
    virtual void detachFromMainLoop() = 0;
};

using AXObserverCallback = std::function<void(const Element& element, const std::string& notification)>;

// The accessibility interface. Thread-safe: samplers read from their own queues.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    virtual bool isProcessTrusted() = 0;
    virtual Element applicationElement(std::int32_t processIdentifier) = 0;
    virtual void setMessagingTimeout(const Element& element, double seconds) = 0;
    virtual AXResult<AXValue> copyAttributeValue(const Element& element, std::string_view attribute) = 0;
    // At most `maxValues` elements of a list attribute, starting at `index`.
    virtual AXResult<std::vector<Element>> copyAttributeValues(const Element& element, std::string_view attribute,
                                                               int index, int maxValues) = 0;
    virtual AXResult<bool> isAttributeSettable(const Element& element, std::string_view attribute) = 0;
    // The deepest element at a global point within the application.
    virtual AXResult<Element> elementAtPosition(const Element& application, float x, float y) = 0;
    virtual AXResult<std::int32_t> processIdentifier(const Element& element) = 0;

    // Nothing when the observer cannot be created.
    virtual std::unique_ptr<AXObserver> createObserver(std::int32_t processIdentifier, AXObserverCallback callback) = 0;
};

// What `copyAttributeValues` answers, given the whole attribute as read: at
// most `maxValues` elements of the list from `index` on; "illegal argument"
// for a negative index or count or a value that is no list, the read's own
// code where it failed.
AXResult<std::vector<Element>> listSlice(AXResult<AXValue> read, int index, int maxValues);

}  // namespace scene
