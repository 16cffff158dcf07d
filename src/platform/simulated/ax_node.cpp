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

const AXNode* axRoot(const AXNode& node) {
    const AXNode* current = &node;
    while (const auto parent = current->parent.lock()) current = parent.get();
    return current;
}

}  // namespace scene::simulated
