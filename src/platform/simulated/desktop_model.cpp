#include "platform/simulated/desktop_model.h"

#include <algorithm>
#include <cstdio>

namespace scene::simulated {

namespace {

template <typename List, typename Match>
auto findIn(List& list, const Match& match) -> decltype(&*list.begin()) {
    const auto it = std::find_if(list.begin(), list.end(), match);
    return it == list.end() ? nullptr : &*it;
}

}  // namespace

const ApplicationModel* DesktopModel::application(std::int32_t pid) const {
    return findIn(applications, [pid](const ApplicationModel& app) { return app.pid == pid; });
}

ApplicationModel* DesktopModel::application(std::int32_t pid) {
    return findIn(applications, [pid](const ApplicationModel& app) { return app.pid == pid; });
}

const DisplayModel* DesktopModel::display(DisplayID id) const {
    return findIn(displays, [id](const DisplayModel& display) { return display.id == id; });
}

DisplayModel* DesktopModel::display(DisplayID id) {
    return findIn(displays, [id](const DisplayModel& display) { return display.id == id; });
}

const WindowModel* DesktopModel::window(const WindowRef& ref) const {
    return findIn(windows, [&ref](const WindowModel& window) { return window.ref() == ref; });
}

WindowModel* DesktopModel::window(const WindowRef& ref) {
    return findIn(windows, [&ref](const WindowModel& window) { return window.ref() == ref; });
}

std::optional<Json> DesktopModel::copyWindowList() const {
    if (windowList == WindowListState::unavailable) return std::nullopt;
    Json list = Json::array();
    for (const auto& window : windows) {
        const ApplicationModel* owner = application(window.pid);
        if (owner != nullptr && owner->hidden) continue;
        list.push_back(window.windowListEntry());
    }
    // A list that is mostly right but not all dictionaries: readers must judge
    // the whole list, not its first entry.
    if (windowList == WindowListState::malformed) list.push_back("malformed entry");
    return list;
}

std::vector<DisplayID> DesktopModel::activeDisplays() const {
    std::vector<DisplayID> ids;
    for (const auto& display : displays) {
        if (display.active) ids.push_back(display.id);
    }
    return ids;
}

AXNodePtr DesktopModel::focusedWindowElement(std::int32_t pid) const {
    const ApplicationModel* app = application(pid);
    if (app == nullptr) return nullptr;
    if (app->focusedWindow) {
        const WindowModel* named = window(*app->focusedWindow);
        if (named != nullptr && named->ax) return named->ax;
    }
    for (const auto& window : windows) {
        if (window.pid == pid && window.ax) return window.ax;
    }
    return nullptr;
}

AXNodePtr DesktopModel::focusedElement(std::int32_t pid) const {
    const ApplicationModel* app = application(pid);
    if (app == nullptr) return nullptr;
    std::vector<AXNodePtr> roots;
    for (const auto& window : windows) {
        if (window.pid == pid && window.ax) roots.push_back(window.ax);
    }
    roots.insert(roots.end(), app->ax.children.begin(), app->ax.children.end());
    if (app->focusedElement) {
        for (const auto& root : roots) {
            if (auto node = findAXNode(root, *app->focusedElement)) return node;
        }
    }
    for (const auto& root : roots) {
        if (auto node = findFocusedAXNode(root)) return node;
    }
    return nullptr;
}

const WindowModel* DesktopModel::windowShowing(const AXNode& node) const {
    const AXNode* root = axRoot(node);
    return findIn(windows, [root](const WindowModel& window) { return window.ax.get() == root; });
}

void DesktopModel::addMissingApplications() {
    for (const auto& window : windows) {
        if (application(window.pid) != nullptr) continue;
        ApplicationModel added;
        added.pid = window.pid;
        applications.push_back(std::move(added));
    }
}

std::string defaultDisplayUUID(DisplayID id) {
    char text[40];
    std::snprintf(text, sizeof text, "5CE4E000-0000-4000-8000-%012X", static_cast<unsigned>(id));
    return text;
}

}  // namespace scene::simulated
