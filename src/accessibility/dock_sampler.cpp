#include "accessibility/dock_sampler.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <variant>

#include "platform/json_object.h"
#include "platform/json_read.h"

namespace scene {
namespace {

// Shelves not confirmed for this long are gone: the Dock hid or moved.
constexpr double kItemLifetime = 0.7;
constexpr double kReadSpacing = 0.16;
constexpr double kMessagingTimeout = 0.025;
constexpr double kMinimumAlpha = 0.05;
// The shelves are among the Dock application's first children.
constexpr std::size_t kChildrenLooked = 8;

constexpr const char* kReady = "ready";
constexpr const char* kHidden = "hidden";
constexpr const char* kPermissionRequired = "permission-required";

constexpr const char* kOwnerPIDKey = "kCGWindowOwnerPID";
constexpr const char* kNumberKey = "kCGWindowNumber";
constexpr const char* kLayerKey = "kCGWindowLayer";
constexpr const char* kBoundsKey = "kCGWindowBounds";
constexpr const char* kAlphaKey = "kCGWindowAlpha";

constexpr const char* kChildrenAttribute = "AXChildren";
constexpr const char* kRoleAttribute = "AXRole";
constexpr const char* kListRole = "AXList";

constexpr const char* kIdPrefix = "dock:";

bool sameBits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

}  // namespace

bool DockSampler::Shelf::operator==(const Shelf& other) const {
    return display == other.display && side == other.side && window == other.window &&
           sameBits(rect.minX(), other.rect.minX()) &&
           sameBits(rect.minY(), other.rect.minY()) && sameBits(rect.absWidth(), other.rect.absWidth()) &&
           sameBits(rect.absHeight(), other.rect.absHeight());
}

DockSampler::DockSampler(Platform& platform, Runtime& runtime)
    : queue(runtime.makeSerialQueue("scene.dock")), structure(platform, runtime), platform_(platform),
      runtime_(runtime) {}

Json DockSampler::dictionary(const Rect& rect, std::uint32_t display, const std::string& side,
                             std::optional<std::int64_t> window) {
    std::string id = kIdPrefix + std::to_string(display);
    if (window) id += ":" + std::to_string(*window);
    return sortedObject({{"displayID", display},
                         {"height", rect.absHeight()},
                         {"id", std::move(id)},
                         {"side", side},
                         {"width", rect.absWidth()},
                         {"x", rect.minX()},
                         {"y", rect.minY()}});
}

std::optional<Json> DockSampler::placed(const Rect& rect, const std::vector<Display>& displays) {
    for (const Display& display : displays) {
        if (const auto side = dockSide(rect, display.bounds)) {
            return dictionary(rect.intersection(display.bounds), display.id, *side);
        }
    }
    return std::nullopt;
}

void DockSampler::sample(const std::set<std::int32_t>& pids, const Json& windows) {
    const double now = runtime_.clock().uptime();
    if (now - received > kItemLifetime) {
        items.clear();
        itemShelves_.clear();
    }

    // Without a Dock process nothing is placed, on any display: they are not
    // asked for.
    std::vector<Display> list = pids.empty() ? std::vector<Display>() : displays();
    std::vector<Shelf> found = windowShelves(pids, windows, list);
    if (!found.empty()) {
        if (found != itemShelves_) {
            items.clear();
            items = records(found);
            itemShelves_ = std::move(found);
        }
        received = now;
        status = kReady;
        return;
    }
    itemShelves_.clear();
    if (!platform_.accessibility().isProcessTrusted()) {
        items.clear();
        status = kPermissionRequired;
        return;
    }
    if (busy || now - started < kReadSpacing) return;
    busy = true;
    started = now;
    queue->post([this, pids, list = std::move(list)] {
        Records shelves = accessibilityShelves(pids, list);
        runtime_.mainQueue().post([this, shelves = std::move(shelves)]() mutable {
            busy = false;
            status = shelves.empty() ? kHidden : kReady;
            items = std::move(shelves);
            itemShelves_.clear();
            received = runtime_.clock().uptime();
        });
    });
}

Records DockSampler::records(const std::vector<Shelf>& shelves) {
    Records built;
    for (const Shelf& shelf : shelves) {
        // One shelf to a display, as the Dock has: the display names it. Where
        // panels make more, each also names its window, which no other has and
        // which stays while the panel does. (A list entry without a number
        // falls back on its place among the shelves.)
        const auto shared = std::count_if(shelves.begin(), shelves.end(),
                                          [&](const Shelf& other) { return other.display == shelf.display; });
        std::optional<std::int64_t> window;
        if (shared > 1) window = shelf.window.value_or(-static_cast<std::int64_t>(built.size()) - 1);
        built.push_back(dictionary(shelf.rect, shelf.display, shelf.side, window));
    }
    return built;
}

std::vector<DockSampler::Display> DockSampler::displays() const {
    std::vector<Display> list;
    for (const Screen& screen : platform_.workspace().screens()) {
        if (!screen.number) continue;
        list.push_back({*screen.number, platform_.windowServer().displayBounds(*screen.number)});
    }
    return list;
}

std::vector<DockSampler::Shelf> DockSampler::windowShelves(const std::set<std::int32_t>& pids, const Json& windows,
                                                           const std::vector<Display>& displays) const {
    std::vector<Shelf> found;
    if (!windows.is_array() || pids.empty()) return found;
    const int dockLevel = platform_.windowServer().dockWindowLevel();
    for (const Json& entry : windows) {
        const auto owner = json_read::int32(entry, kOwnerPIDKey);
        if (!owner || !pids.contains(*owner)) continue;
        const auto layer = json_read::integer(entry, kLayerKey);
        if (!layer || *layer != dockLevel) continue;
        const Json* boundsValue = json_read::member(entry, kBoundsKey);
        const auto bounds = boundsValue ? json_read::windowBounds(*boundsValue) : std::nullopt;
        if (!bounds) continue;
        const auto alpha = json_read::looseDouble(entry, kAlphaKey);
        if (alpha && !(*alpha > kMinimumAlpha)) continue;
        for (const Display& display : displays) {
            if (auto side = dockSide(*bounds, display.bounds)) {
                found.push_back({bounds->intersection(display.bounds), display.id, std::move(*side),
                                 json_read::integer(entry, kNumberKey)});
                break;
            }
        }
    }
    return found;
}

Records DockSampler::accessibilityShelves(const std::set<std::int32_t>& pids,
                                          const std::vector<Display>& displays) const {
    Accessibility& accessibility = platform_.accessibility();
    Records found;
    for (const std::int32_t pid : pids) {
        const Element application = accessibility.applicationElement(pid);
        accessibility.setMessagingTimeout(application, kMessagingTimeout);
        const auto children = structure.attribute(application, kChildrenAttribute);
        const auto* list = children ? std::get_if<std::vector<Element>>(&*children) : nullptr;
        if (list == nullptr) continue;
        for (std::size_t index = 0; index < list->size() && index < kChildrenLooked; ++index) {
            const Element& child = (*list)[index];
            const auto role = structure.attribute(child, kRoleAttribute);
            const auto* text = role ? std::get_if<std::string>(&*role) : nullptr;
            if (text == nullptr || *text != kListRole) continue;
            const auto frame = structure.frame(child);
            if (!frame) continue;
            if (auto record = placed(*frame, displays)) found.push_back(std::move(*record));
        }
    }
    return found;
}

DockSampler::~DockSampler() { queue.reset(); }

}  // namespace scene
