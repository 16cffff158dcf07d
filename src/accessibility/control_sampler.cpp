#include "accessibility/control_sampler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <variant>

#include "platform/json_read.h"

namespace scene {
namespace {

// Walks closer together than this would keep the application's accessibility
// server busy for no new information.
constexpr double kWalkSpacing = 0.16;
// One walk may take as long as the spacing: a slow application costs a stale
// frame of controls, never a stalled pass.
constexpr double kWalkBudget = 0.16;
// A hung application answers nothing rather than holding the walk for seconds.
constexpr double kMessagingTimeout = 0.025;
// Identity storage is trimmed in one go rather than entry by entry.
constexpr std::size_t kIdentityLimit = 1200;
constexpr std::size_t kIdentityTrim = 300;

// How far the window server's idea of the window may be from the element's:
// titles and shadows make them differ a little, another window differs more.
constexpr double kMatchOffset = 16;
constexpr double kMatchSize = 24;

// Inputs hide deep inside documents and web areas; controls sit near the top.
constexpr int kControlDepth = 16;
constexpr int kInputDepth = 48;
constexpr int kControlAncestors = 8;
constexpr int kInputAncestors = 48;
constexpr int kHitContainerAncestors = 48;
constexpr int kAnchorSteps = 11;
constexpr std::size_t kRecordLimit = 99;  // the walk stops once it holds more
constexpr std::size_t kVisitLimit = 1000;
constexpr int kChildLimit = 180;
constexpr std::size_t kPendingLimit = 20000;
constexpr std::size_t kKnownLimit = 64;
// A window that moved or resized during the walk makes every frame suspect.
constexpr double kFrameDrift = 0.5;

constexpr double kSplitterMinimum = 1;  // splitters are thin by nature
constexpr double kInputMinimum = 24;
constexpr double kControlMinimum = 54;  // narrower controls leave no room to stand
constexpr double kMinimumHeight = 1;
// Controls are probed near their top edge, where the character would stand; a
// toolbar's middle is often covered by one of its own items.
constexpr double kProbeTopInset = 2;
constexpr double kProbeBottomInset = 0.5;

constexpr const char* kPermissionRequired = "permission-required";
constexpr const char* kUnsupported = "unsupported";
constexpr const char* kReady = "ready";
constexpr const char* kNoControls = "no-controls";

constexpr std::string_view kPositionAttribute = "AXPosition";
constexpr std::string_view kSizeAttribute = "AXSize";
constexpr std::string_view kParentAttribute = "AXParent";
constexpr std::string_view kFocusedWindowAttribute = "AXFocusedWindow";
constexpr std::string_view kFocusedUIElementAttribute = "AXFocusedUIElement";
constexpr std::string_view kRoleAttribute = "AXRole";
constexpr std::string_view kSubroleAttribute = "AXSubrole";
constexpr std::string_view kHiddenAttribute = "AXHidden";
constexpr std::string_view kEditableAttribute = "AXEditable";
constexpr std::string_view kEnabledAttribute = "AXEnabled";
constexpr std::string_view kValueAttribute = "AXValue";
constexpr std::string_view kVisibleChildrenAttribute = "AXVisibleChildren";
constexpr std::string_view kChildrenAttribute = "AXChildren";

constexpr std::string_view kTextFieldRole = "AXTextField";
constexpr std::string_view kSplitterRole = "AXSplitter";
constexpr std::array<std::string_view, 3> kContainerRoles{"AXScrollArea", "AXWebArea", "AXWindow"};
constexpr std::array<std::string_view, 2> kTextFieldSubroles{"AXSearchField", "AXSecureTextField"};
constexpr std::array<std::string_view, 2> kHitContainers{"AXGroup", "AXWebArea"};

constexpr const char* kWindowPIDKey = "pid";
constexpr const char* kWindowIDKey = "id";
constexpr const char* kXKey = "x";
constexpr const char* kYKey = "y";
constexpr const char* kWidthKey = "width";
constexpr const char* kHeightKey = "height";
constexpr const char* kItemIDKey = "id";
constexpr const char* kItemWindowIDKey = "windowId";
constexpr const char* kItemPIDKey = "pid";
constexpr const char* kItemRoleKey = "role";
constexpr const char* kItemClipKey = "clip";
constexpr const char* kItemWindowBoundsKey = "windowBounds";
constexpr const char* kItemFocusedKey = "focused";
constexpr const char* kItemEnabledKey = "enabled";
constexpr const char* kItemEditableKey = "editable";
constexpr const char* kItemValueWritableKey = "valueWritable";

template <std::size_t N>
bool listed(const std::array<std::string_view, N>& list, std::string_view value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// The window record the focused window stands for: the closest one of the
// application's records, and only when it is close enough to be the same window.
std::optional<std::string> matchWindow(std::int32_t pid, const Records& windows, const Rect& frame) {
    const auto value = [](const Json& record, const char* key) {
        return json_read::looseDouble(record, key).value_or(0);
    };
    const Json* best = nullptr;
    double bestDistance = 0;
    for (const Json& record : windows) {
        if (json_read::int32(record, kWindowPIDKey) != pid) continue;
        const double distance = std::fabs(value(record, kXKey) - frame.minX()) +
                                std::fabs(value(record, kYKey) - frame.minY()) +
                                std::fabs(value(record, kWidthKey) - frame.absWidth()) +
                                std::fabs(value(record, kHeightKey) - frame.absHeight());
        if (best == nullptr || distance < bestDistance) {
            best = &record;
            bestDistance = distance;
        }
    }
    if (best == nullptr) return std::nullopt;
    auto id = json_read::string(*best, kWindowIDKey);
    if (!id) return std::nullopt;
    if (!(std::fabs(value(*best, kXKey) - frame.minX()) <= kMatchOffset) ||
        !(std::fabs(value(*best, kYKey) - frame.minY()) <= kMatchOffset) ||
        !(std::fabs(value(*best, kWidthKey) - frame.absWidth()) <= kMatchSize) ||
        !(std::fabs(value(*best, kHeightKey) - frame.absHeight()) <= kMatchSize)) {
        return std::nullopt;
    }
    return id;
}

bool drifted(const Rect& before, const Rect& after) {
    return !(std::fabs(before.minX() - after.minX()) < kFrameDrift) ||
           !(std::fabs(before.minY() - after.minY()) < kFrameDrift) ||
           !(std::fabs(before.absWidth() - after.absWidth()) < kFrameDrift) ||
           !(std::fabs(before.absHeight() - after.absHeight()) < kFrameDrift);
}

}  // namespace

// What one walk carries from entry to entry; lives on `queue` for one `scan`.
struct ControlSampler::Walk {
    std::int32_t pid = 0;
    bool inputsOnly = false;
    Element application;
    Element window;
    Rect frame;  // the focused window's frame when the walk began
    std::string windowID;
    Element focusedInput;  // null when the focused element is no input
    int maxDepth = kControlDepth;
    int ancestorLimit = kControlAncestors;
    std::deque<WalkEntry> queue;  // front is visited next
    Records records;
    std::map<std::string, Element> found;  // identity -> element, this walk only
    std::vector<WalkEntry> known;          // inputs this walk reported
};

ControlSampler::ControlSampler(Platform& platform, Runtime& runtime, std::string identityPrefix)
    : identityPrefix(std::move(identityPrefix)),
      queue(runtime.makeSerialQueue("scene.controls." + this->identityPrefix)),
      roles{"AXButton",  "AXPopUpButton", "AXMenuButton", "AXImage",     "AXSplitter",
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
            completion(std::move(key), std::move(result.windowID), std::move(result.items), std::move(result.status));
        });
    });
}

ControlSampler::ScanResult ControlSampler::scan(std::int32_t pid, const Records& windows, const std::string& key,
                                                const std::optional<std::string>& anchor, bool inputsOnly) {
    Accessibility& accessibility = platform_.accessibility();
    if (!accessibility.isProcessTrusted()) return {std::nullopt, {}, kPermissionRequired};
    if (key != lastKey) {
        identities.clear();
        references.clear();
        lastKey = key;
        inputPending.clear();
        inputKnown.clear();
        inputWindow.reset();
    }

    const Clock& clock = runtime_.clock();
    const double deadline = clock.uptime() + kWalkBudget;
    Walk walk;
    walk.pid = pid;
    walk.inputsOnly = inputsOnly;
    walk.maxDepth = inputsOnly ? kInputDepth : kControlDepth;
    walk.ancestorLimit = inputsOnly ? kInputAncestors : kControlAncestors;
    walk.application = accessibility.applicationElement(pid);
    accessibility.setMessagingTimeout(walk.application, kMessagingTimeout);

    // Read directly rather than through `attribute`: a disabled interface must
    // be told apart from an application that has no window.
    AXResult<AXValue> focusedWindow = accessibility.copyAttributeValue(walk.application, kFocusedWindowAttribute);
    if (focusedWindow.code == ax_error::apiDisabled) return {std::nullopt, {}, kPermissionRequired};
    const Element* window = focusedWindow.ok() ? std::get_if<Element>(&focusedWindow.value) : nullptr;
    if (window == nullptr || !*window) return {std::nullopt, {}, kUnsupported};
    walk.window = *window;
    const auto windowFrame = frame(walk.window);
    if (!windowFrame) return {std::nullopt, {}, kUnsupported};
    walk.frame = *windowFrame;
    auto windowID = matchWindow(pid, windows, walk.frame);
    if (!windowID) return {std::nullopt, {}, kUnsupported};
    walk.windowID = std::move(*windowID);

    if (inputsOnly) {
        // Resuming is only sound while every pending clip still fits the window.
        if (!inputWindow || !(*inputWindow == walk.frame)) {
            inputPending.clear();
            inputKnown.clear();
            inputWindow = walk.frame;
        }
        if (inputPending.empty()) {
            walk.queue.push_back({walk.window, walk.frame, 0});
        } else {
            walk.queue.assign(inputPending.begin(), inputPending.end());
        }
        walk.queue.insert(walk.queue.begin(), inputKnown.begin(), inputKnown.end());
    } else {
        walk.queue.push_back({walk.window, walk.frame, 0});
    }

    if (const auto focused = attribute(walk.application, kFocusedUIElementAttribute)) {
        const Element* element = std::get_if<Element>(&*focused);
        if (element != nullptr && *element && inputs.contains(role(*element))) {
            walk.focusedInput = *element;
            walk.queue.push_front({*element, walk.frame, 1});
        }
    }

    if (anchor) {
        if (const auto known = references.find(*anchor); known != references.end()) {
            walk.queue.push_front({known->second, anchorClip(known->second, walk, deadline), 1});
        }
    }

    std::size_t visited = 0;
    while (!walk.queue.empty()) {
        if (walk.records.size() > kRecordLimit || clock.uptime() >= deadline) break;
        const WalkEntry entry = std::move(walk.queue.front());
        walk.queue.pop_front();
        visit(walk, entry);
        if (++visited == kVisitLimit) break;
    }

    if (inputsOnly) {
        const std::size_t pending = std::min(walk.queue.size(), kPendingLimit);
        inputPending.assign(walk.queue.begin(), walk.queue.begin() + static_cast<std::ptrdiff_t>(pending));
        if (walk.known.size() > kKnownLimit) walk.known.resize(kKnownLimit);
        inputKnown = std::move(walk.known);
    }

    const auto after = frame(walk.window);
    if (!after || drifted(walk.frame, *after)) return {std::move(walk.windowID), {}, kUnsupported};
    references = std::move(walk.found);
    const char* status = walk.records.empty() ? kNoControls : kReady;
    return {std::move(walk.windowID), std::move(walk.records), status};
}

Rect ControlSampler::anchorClip(const Element& anchor, const Walk& walk, double deadline) const {
    const Clock& clock = runtime_.clock();
    Rect clip = walk.frame;
    Element current = anchor;
    for (int step = 0; step < kAnchorSteps && clock.uptime() < deadline; ++step) {
        const auto parent = attribute(current, kParentAttribute);
        const Element* next = parent ? std::get_if<Element>(&*parent) : nullptr;
        if (next == nullptr || !*next || *next == walk.window) break;
        if (listed(kContainerRoles, role(*next))) {
            if (const auto container = frame(*next)) clip = clip.intersection(*container);
        }
        current = *next;
    }
    return clip;
}

void ControlSampler::visit(Walk& walk, const WalkEntry& entry) {
    if (entry.depth > walk.maxDepth) return;
    const Element& element = entry.element;
    std::string kind = role(element);
    if (kind == kTextFieldRole) {
        if (const auto subrole = attribute(element, kSubroleAttribute)) {
            const std::string* text = std::get_if<std::string>(&*subrole);
            if (text != nullptr && listed(kTextFieldSubroles, *text)) kind = *text;
        }
    }
    if (const auto hidden = attribute(element, kHiddenAttribute)) {
        const bool* flag = std::get_if<bool>(&*hidden);
        if (flag != nullptr && *flag) return;
    }

    const bool candidate = inputs.contains(kind) || (!walk.inputsOnly && roles.contains(kind));
    const bool container = listed(kContainerRoles, kind);
    const auto own = candidate || container ? frame(element) : std::nullopt;
    Rect childClip = entry.clip;
    if (container && own) childClip = childClip.intersection(*own);
    if (childClip.isNull() || childClip.isEmpty()) return;

    if (candidate && own) consider(walk, entry, kind, *own, childClip);

    if (entry.depth >= walk.maxDepth) return;
    const std::vector<Element> found = children(element, walk.inputsOnly);
    if (walk.inputsOnly) {
        // Depth first, in document order: inputs read top to bottom, and an
        // unfinished walk resumes right where the reader would be.
        for (auto child = found.rbegin(); child != found.rend(); ++child) {
            walk.queue.push_front({*child, childClip, entry.depth + 1});
        }
    } else {
        for (const Element& child : found) walk.queue.push_back({child, childClip, entry.depth + 1});
    }
}

void ControlSampler::consider(Walk& walk, const WalkEntry& entry, const std::string& kind, const Rect& own,
                              const Rect& clip) {
    Accessibility& accessibility = platform_.accessibility();
    const Element& element = entry.element;
    const bool input = inputs.contains(kind);
    const double minimum = kind == kSplitterRole ? kSplitterMinimum : input ? kInputMinimum : kControlMinimum;
    if (own.absWidth() < minimum || own.absHeight() < kMinimumHeight) return;
    const Rect visible = own.intersection(clip);
    if (visible.isNull() || visible.absWidth() < minimum || visible.absHeight() < kMinimumHeight) return;

    const double probeX = visible.midX();
    const double probeY =
        input ? visible.midY() : std::min(visible.maxY() - kProbeBottomInset, visible.minY() + kProbeTopInset);

    std::optional<bool> editable;
    std::optional<bool> valueSettable;
    if (input) {
        if (const auto value = attribute(element, kEditableAttribute)) {
            if (const bool* flag = std::get_if<bool>(&*value)) editable = *flag;
        }
        const AXResult<bool> settable = accessibility.isAttributeSettable(element, kValueAttribute);
        if (settable.ok()) valueSettable = settable.value;
    }

    const AXResult<Element> hit =
        accessibility.elementAtPosition(walk.application, static_cast<float>(probeX), static_cast<float>(probeY));
    if (!hit.ok() || !hit.value) return;
    bool shown = belongs(hit.value, element, walk.ancestorLimit);
    // Web content often answers a hit test with the group that draws the field
    // rather than the field itself; an input that takes text still counts.
    if (!shown && walk.inputsOnly && input && (editable ? *editable : valueSettable.value_or(false)) &&
        listed(kHitContainers, role(hit.value))) {
        shown = belongs(element, hit.value, kHitContainerAncestors);
    }
    if (!shown) return;

    std::string id = identity(element, walk.windowID);
    if (walk.found.contains(id)) return;

    Json record{{kItemIDKey, id},
                {kItemWindowIDKey, walk.windowID},
                {kItemPIDKey, walk.pid},
                {kItemRoleKey, kind},
                {kItemClipKey, dictionary(entry.clip)},
                {kItemWindowBoundsKey, dictionary(walk.frame)},
                {kXKey, own.minX()},
                {kYKey, own.minY()},
                {kWidthKey, own.absWidth()},
                {kHeightKey, own.absHeight()}};
    if (input) {
        record[kItemFocusedKey] = static_cast<bool>(walk.focusedInput) && walk.focusedInput == element;
        bool enabled = true;
        if (const auto value = attribute(element, kEnabledAttribute)) {
            if (const bool* flag = std::get_if<bool>(&*value)) enabled = *flag;
        }
        record[kItemEnabledKey] = enabled;
        if (editable) record[kItemEditableKey] = *editable;
        if (valueSettable) record[kItemValueWritableKey] = *valueSettable;
    }
    walk.records.push_back(std::move(record));
    walk.found.emplace(std::move(id), element);
    if (walk.inputsOnly) walk.known.push_back(entry);
}

std::vector<Element> ControlSampler::children(const Element& element, bool inputsOnly) const {
    Accessibility& accessibility = platform_.accessibility();
    AXResult<std::vector<Element>> read;
    if (inputsOnly) {
        // A document being edited sometimes fails one read; a second one usually lands.
        read = accessibility.copyAttributeValues(element, kChildrenAttribute, 0, kChildLimit);
        if (!read.ok()) read = accessibility.copyAttributeValues(element, kChildrenAttribute, 0, kChildLimit);
    } else {
        read = accessibility.copyAttributeValues(element, kVisibleChildrenAttribute, 0, kChildLimit);
        if (!read.ok() || read.value.empty()) {
            read = accessibility.copyAttributeValues(element, kChildrenAttribute, 0, kChildLimit);
        }
    }
    if (!read.ok()) return {};
    std::vector<Element> found;
    found.reserve(std::min<std::size_t>(read.value.size(), kChildLimit));
    for (Element& child : read.value) {
        if (found.size() == static_cast<std::size_t>(kChildLimit)) break;
        if (child) found.push_back(std::move(child));
    }
    return found;
}

std::string ControlSampler::role(const Element& element) const {
    const auto value = attribute(element, kRoleAttribute);
    const std::string* text = value ? std::get_if<std::string>(&*value) : nullptr;
    return text != nullptr ? *text : std::string();
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
