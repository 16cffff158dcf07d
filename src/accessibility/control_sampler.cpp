#include "accessibility/control_sampler.h"

#include <variant>

namespace scene {
namespace {

// Walks closer together than this would keep the application's accessibility
// server busy for no new information.
constexpr double kWalkSpacing = 0.16;
// Identity storage is trimmed in one go rather than entry by entry.
constexpr std::size_t kIdentityLimit = 1200;
constexpr std::size_t kIdentityTrim = 300;

constexpr const char* kPermissionRequired = "permission-required";
constexpr const char* kUnsupported = "unsupported";

constexpr std::string_view kPositionAttribute = "AXPosition";
constexpr std::string_view kSizeAttribute = "AXSize";
constexpr std::string_view kParentAttribute = "AXParent";

}  // namespace

ControlSampler::ControlSampler(Platform& platform, Runtime& runtime, std::string identityPrefix)
    : identityPrefix(std::move(identityPrefix)),
      queue(runtime.makeSerialQueue("scene.controls." + this->identityPrefix)),
      roles{"AXButton",  "AXPopUpButton", "AXMenuButton",  "AXImage",      "AXSplitter",
            "AXToolbar", "AXTabGroup",    "AXScrollArea", "AXSplitGroup"},
      inputs{"AXTextField", "AXTextArea", "AXSearchField", "AXSecureTextField", "AXComboBox"},
      platform_(platform),
      runtime_(runtime) {}

void ControlSampler::schedule(std::int32_t pid, const Records& windows, const std::string& key,
                              const std::optional<std::string>& anchor, bool inputsOnly, Completion completion) {
    const double now = runtime_.clock().uptime();
    if (busy || now - lastStarted <= kWalkSpacing) return;
    busy = true;
    lastStarted = now;
    queue->post([this, pid, windows, key, anchor, inputsOnly, completion = std::move(completion)]() mutable {
        ScanResult result = scan(pid, windows, key, anchor, inputsOnly);
        runtime_.mainQueue().post([this, key = std::move(key), result = std::move(result),
                                   completion = std::move(completion)]() mutable {
            busy = false;
            completion(std::move(key), std::move(result.windowID), std::move(result.items),
                       std::move(result.status));
        });
    });
}

ControlSampler::ScanResult ControlSampler::scan(std::int32_t, const Records&, const std::string& key,
                                                const std::optional<std::string>&, bool) {
    if (!platform_.accessibility().isProcessTrusted()) return {std::nullopt, {}, kPermissionRequired};
    if (key != lastKey) {
        identities.clear();
        references.clear();
        lastKey = key;
        inputPending.clear();
        inputKnown.clear();
        inputWindow.reset();
    }
    // The walk of the focused window comes with the control walk itself; until
    // then no window is ever matched.
    return {std::nullopt, {}, kUnsupported};
}

std::optional<AXValue> ControlSampler::attribute(const Element& element, std::string_view name) const {
    AXResult<AXValue> result = platform_.accessibility().copyAttributeValue(element, name);
    if (!result.ok() || std::holds_alternative<std::monostate>(result.value)) return std::nullopt;
    return std::move(result.value);
}

std::optional<Rect> ControlSampler::frame(const Element& element) const {
    const auto position = attribute(element, kPositionAttribute);
    const auto size = attribute(element, kSizeAttribute);
    if (!position || !size) return std::nullopt;
    const Point* origin = std::get_if<Point>(&*position);
    const Size* extent = std::get_if<Size>(&*size);
    if (origin == nullptr || extent == nullptr || !(extent->width > 0) || !(extent->height > 0)) return std::nullopt;
    return Rect{origin->x, origin->y, extent->width, extent->height};
}

Json ControlSampler::dictionary(const Rect& rect) {
    return Json{{"x", rect.minX()}, {"y", rect.minY()}, {"width", rect.absWidth()}, {"height", rect.absHeight()}};
}

std::string ControlSampler::identity(const Element& element, const std::string& windowID) {
    for (const auto& [known, identity] : identities) {
        if (known == element) return identity;
    }
    serial += 1;
    std::string made = windowID + "/" + identityPrefix + "-" + std::to_string(serial);
    if (identities.size() >= kIdentityLimit) {
        identities.erase(identities.begin(), identities.begin() + kIdentityTrim);
    }
    identities.emplace_back(element, made);
    return made;
}

bool ControlSampler::belongs(const Element& element, const Element& ancestor, int limit) const {
    Element current = element;
    for (int step = 0; step < limit; ++step) {
        if (current == ancestor) return true;
        const auto parent = attribute(current, kParentAttribute);
        const Element* next = parent ? std::get_if<Element>(&*parent) : nullptr;
        if (next == nullptr || !*next) return false;
        current = *next;
    }
    return false;
}

ControlSampler::~ControlSampler() { queue.reset(); }

}  // namespace scene
