#include "platform/x11/x11_window_server.h"

#include <algorithm>

#include "platform/x11/x11_display_identity.h"

namespace scene::x11 {
namespace {

// Core protocol key-and-button mask bits.
constexpr std::uint16_t kShiftMask = 1 << 0;
constexpr std::uint16_t kControlMask = 1 << 2;
constexpr std::uint16_t kMod1Mask = 1 << 3;  // Alt on every common keymap
constexpr std::uint16_t kMod4Mask = 1 << 6;  // the Super key
constexpr std::uint16_t kButton1Mask = 1 << 8;

constexpr std::uint64_t kShiftFlag = 1 << 17;
constexpr std::uint64_t kControlFlag = 1 << 18;
constexpr std::uint64_t kAlternateFlag = 1 << 19;
constexpr std::uint64_t kCommandFlag = 1 << 20;

constexpr InputEventType kCountedTypes[] = {
    InputEventType::leftMouseDown, InputEventType::rightMouseDown, InputEventType::otherMouseDown,
    InputEventType::scrollWheel,   InputEventType::keyDown,        InputEventType::mouseMoved,
};

std::size_t slotOf(InputEventType type) {
    return static_cast<std::size_t>(std::find(std::begin(kCountedTypes), std::end(kCountedTypes), type) -
                                    std::begin(kCountedTypes)) %
           std::size(kCountedTypes);
}

}  // namespace

std::uint64_t modifierFlagsFromMask(std::uint16_t mask) {
    std::uint64_t flags = 0;
    if ((mask & kShiftMask) != 0) flags |= kShiftFlag;
    if ((mask & kControlMask) != 0) flags |= kControlFlag;
    if ((mask & kMod1Mask) != 0) flags |= kAlternateFlag;
    if ((mask & kMod4Mask) != 0) flags |= kCommandFlag;
    return flags;
}

std::shared_ptr<const nlohmann::json> X11WindowServer::copyWindowList() { return desktop_->windowList(); }

std::optional<std::uint32_t> X11WindowServer::activeDisplayCount() {
    return static_cast<std::uint32_t>(desktop_->monitors()->size());
}

std::optional<std::vector<DisplayID>> X11WindowServer::activeDisplayList(std::uint32_t maxDisplays) {
    std::vector<DisplayID> ids;
    const auto monitors = desktop_->monitors();
    for (const auto& monitor : *monitors) {
        if (ids.size() >= maxDisplays) break;
        ids.push_back(monitor.id);
    }
    return ids;
}

std::optional<Monitor> X11WindowServer::monitor(DisplayID display) {
    const auto monitors = desktop_->monitors();
    for (const auto& monitor : *monitors)
        if (monitor.id == display) return monitor;
    return std::nullopt;
}

Rect X11WindowServer::displayBounds(DisplayID display) {
    const auto found = monitor(display);
    return found ? found->bounds : Rect::null();
}

bool X11WindowServer::displayIsActive(DisplayID display) { return monitor(display).has_value(); }

// Power management covers the whole screen; a server without it never sleeps.
bool X11WindowServer::displayIsAsleep(DisplayID) { return desktop_->displaysAsleep().value_or(false); }

std::optional<std::string> X11WindowServer::displayUUID(DisplayID display) {
    const auto found = monitor(display);
    if (!found) return std::nullopt;
    if (const auto edid = desktop_->outputEDID(found->id); !edid.empty()) return displayIdentityFromEDID(edid);
    // Virtual and some remote outputs have no EDID; their connector is all
    // there is to tell them apart.
    if (found->name.empty()) return std::nullopt;
    return found->name;
}

std::optional<nlohmann::json> X11WindowServer::sessionDictionary() {
    const auto locked = desktop_->screenLocked();
    if (!locked) return std::nullopt;
    return *locked ? lockedSession_ : unlockedSession_;
}

bool X11WindowServer::leftButtonDown() { return (pointerMask() & kButton1Mask) != 0; }

std::uint64_t X11WindowServer::modifierFlags() { return modifierFlagsFromMask(pointerMask()); }

std::uint16_t X11WindowServer::pointerMask() {
    std::uint64_t presses = 0;
    {
        std::lock_guard lock(countersMutex_);
        const X11InputCounters* watching = counters();
        if (watching == nullptr) return desktop_->pointerMask();
        // Presses first: one that lands during the read makes the next ask again.
        presses = pressesBefore_ + watching->presses();
    }
    std::lock_guard lock(pointerMutex_);
    if (pointer_ && pointer_->presses == presses) return pointer_->mask;
    pointer_ = KeptPointer{presses, desktop_->pointerMask()};
    return pointer_->mask;
}

X11InputCounters* X11WindowServer::counters() {
    const std::uint64_t connection = desktop_->connections();
    if (connection == countersConnection_) return counters_.get();
    countersConnection_ = connection;
    if (counters_) {
        for (std::size_t i = 0; i < std::size(kCountedTypes); ++i)
            countedBefore_[i] += counters_->count(kCountedTypes[i]);
        pressesBefore_ += counters_->presses();
    }
    // The old connection's thread ended with its server, or ends now.
    counters_.reset();
    counters_ = X11InputCounters::start(displayName_);
    return counters_.get();
}

std::uint32_t X11WindowServer::eventCounter(InputEventType type) {
    std::lock_guard lock(countersMutex_);
    const X11InputCounters* watching = counters();
    const std::uint32_t before = countedBefore_[slotOf(type)];
    return watching ? before + watching->count(type) : before;
}

}  // namespace scene::x11
