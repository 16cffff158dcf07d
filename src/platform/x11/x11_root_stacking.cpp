#include "platform/x11/x11_root_stacking.h"

#include <algorithm>

namespace scene::x11 {

Rect TopLevel::outer() const {
    return Rect{static_cast<double>(x), static_cast<double>(y), static_cast<double>(width) + 2.0 * border,
                static_cast<double>(height) + 2.0 * border};
}

void RootStacking::reset(xcb_window_t root, std::vector<TopLevel> bottomToTop) {
    root_ = root;
    windows_ = std::move(bottomToTop);
    synced_ = true;
}

const TopLevel* RootStacking::find(xcb_window_t window) const {
    const auto it =
        std::find_if(windows_.begin(), windows_.end(), [window](const TopLevel& top) { return top.id == window; });
    return it == windows_.end() ? nullptr : &*it;
}

std::vector<TopLevel>::iterator RootStacking::at(xcb_window_t window) {
    return std::find_if(windows_.begin(), windows_.end(), [window](const TopLevel& top) { return top.id == window; });
}

bool RootStacking::restack(std::vector<TopLevel>::iterator from, xcb_window_t sibling) {
    const TopLevel moved = *from;
    windows_.erase(from);
    auto to = windows_.begin();
    if (sibling != XCB_WINDOW_NONE) {
        to = at(sibling);
        if (to == windows_.end()) return false;
        ++to;
    }
    windows_.insert(to, moved);
    return true;
}

bool RootStacking::lost() {
    synced_ = false;
    return true;
}

bool RootStacking::apply(const xcb_generic_event_t& event) {
    if (!synced_ || (event.response_type & 0x80) != 0) return false;
    switch (event.response_type & 0x7F) {
        case XCB_CREATE_NOTIFY: {
            const auto& created = reinterpret_cast<const xcb_create_notify_event_t&>(event);
            if (created.parent != root_) return false;
            if (find(created.window) != nullptr) return lost();
            // A new window goes on top of its siblings, unmapped.
            windows_.push_back({created.window, created.x, created.y, created.width, created.height,
                                created.border_width, false, created.override_redirect != 0});
            return false;
        }
        case XCB_DESTROY_NOTIFY: {
            const auto& destroyed = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
            if (destroyed.event != root_) return false;
            const auto it = at(destroyed.window);
            if (it == windows_.end()) return false;
            const bool shown = it->mapped;
            windows_.erase(it);
            return shown;
        }
        case XCB_MAP_NOTIFY: {
            const auto& mapped = reinterpret_cast<const xcb_map_notify_event_t&>(event);
            if (mapped.event != root_) return false;
            const auto it = at(mapped.window);
            if (it == windows_.end()) return lost();
            it->mapped = true;
            it->overrideRedirect = mapped.override_redirect != 0;
            return true;
        }
        case XCB_UNMAP_NOTIFY: {
            const auto& unmapped = reinterpret_cast<const xcb_unmap_notify_event_t&>(event);
            if (unmapped.event != root_) return false;
            const auto it = at(unmapped.window);
            if (it == windows_.end()) return lost();
            const bool shown = it->mapped;
            it->mapped = false;
            return shown;
        }
        case XCB_REPARENT_NOTIFY: {
            const auto& reparented = reinterpret_cast<const xcb_reparent_notify_event_t&>(event);
            if (reparented.event != root_) return false;
            // Taken in by the root: where it sits is told, its size is not.
            if (reparented.parent == root_) return lost();
            const auto it = at(reparented.window);
            if (it == windows_.end()) return false;
            const bool shown = it->mapped;
            windows_.erase(it);
            return shown;
        }
        case XCB_CONFIGURE_NOTIFY: {
            const auto& configured = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
            if (configured.event != root_ || configured.window == root_) return false;
            auto it = at(configured.window);
            if (it == windows_.end()) return lost();
            TopLevel& top = *it;
            const bool shown = top.mapped;
            const bool moved = top.x != configured.x || top.y != configured.y || top.width != configured.width ||
                               top.height != configured.height || top.border != configured.border_width;
            top.x = configured.x;
            top.y = configured.y;
            top.width = configured.width;
            top.height = configured.height;
            top.border = configured.border_width;
            top.overrideRedirect = configured.override_redirect != 0;
            const xcb_window_t below = it == windows_.begin() ? xcb_window_t{XCB_WINDOW_NONE} : std::prev(it)->id;
            const bool restacked = below != configured.above_sibling;
            if (restacked && !restack(it, configured.above_sibling)) return lost();
            return shown && (moved || restacked);
        }
        case XCB_CIRCULATE_NOTIFY: {
            const auto& circulated = reinterpret_cast<const xcb_circulate_notify_event_t&>(event);
            if (circulated.event != root_) return false;
            const auto it = at(circulated.window);
            if (it == windows_.end()) return lost();
            const TopLevel moved = *it;
            windows_.erase(it);
            windows_.insert(circulated.place == XCB_PLACE_ON_TOP ? windows_.end() : windows_.begin(), moved);
            return moved.mapped;
        }
        case XCB_GRAVITY_NOTIFY: {
            const auto& moved = reinterpret_cast<const xcb_gravity_notify_event_t&>(event);
            if (moved.event != root_) return false;
            const auto it = at(moved.window);
            if (it == windows_.end()) return lost();
            it->x = moved.x;
            it->y = moved.y;
            return it->mapped;
        }
        default:
            return false;
    }
}

}  // namespace scene::x11
