#include "platform/simulated/ax_node.h"

namespace scene::simulated {

namespace {

template <typename Match>
AXNodePtr findFirst(const AXNodePtr& node, const Match& match) {
    if (!node) return nullptr;
    if (match(*node)) return node;
    for (const auto& child : node->children) {
        if (auto found = findFirst(child, match)) return found;
    }
    return nullptr;
}

}  // namespace

AXNodePtr findAXNode(const AXNodePtr& root, std::string_view id) {
    return findFirst(root, [id](const AXNode& node) { return node.id && *node.id == id; });
}

AXNodePtr findFocusedAXNode(const AXNodePtr& root) {
    return findFirst(root, [](const AXNode& node) { return node.focused; });
}

std::optional<Rect> axGlobalFrame(const AXNode& node, const std::optional<Rect>& window, bool windowElement) {
    if (!window) return node.frame;
    if (!node.frame) return windowElement ? window : std::nullopt;
    Rect frame = *node.frame;
    frame.x += window->x;
    frame.y += window->y;
    return frame;
}

namespace {

// Null when neither the node nor anything below it is under the point.
AXNodePtr deepestAt(const AXNodePtr& node, const Rect& window, Point point, bool windowElement) {
    const auto frame = axGlobalFrame(*node, window, windowElement);
    if (frame && !frame->contains(point)) return nullptr;
    for (auto child = node->children.rbegin(); child != node->children.rend(); ++child) {
        if (auto found = deepestAt(*child, window, point, false)) return found;
    }
    return frame ? node : nullptr;
}

}  // namespace

AXNodePtr axNodeAt(const AXNodePtr& root, const Rect& window, Point point) {
    if (!root) return nullptr;
    if (auto found = deepestAt(root, window, point, true)) return found;
    // The point is on the window even where the window's element says its
    // frame is elsewhere.
    return root;
}

const AXNode* axRoot(const AXNode& node) {
    const AXNode* current = &node;
    while (const auto parent = current->parent.lock()) current = parent.get();
    return current;
}

}  // namespace scene::simulated
