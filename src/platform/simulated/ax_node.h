#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/accessibility.h"
#include "platform/rect.h"

namespace scene::simulated {

class AXNode;
using AXNodePtr = std::shared_ptr<const AXNode>;

// One accessibility element of a scene's tree (a window's `ax` object or one of
// its descendants, or an application-level child). Built once when the scene or
// a timeline action is read and immutable afterwards, so element handles may
// outlive the window that showed it and any thread may read it without a lock.
// Where it sits on screen is not stored here: its window's current bounds give
// the origin for `frame`, looked up in the desktop model at read time.
class AXNode final : public ElementNode {
public:
    std::optional<std::string> id;  // the timeline's handle for `focus-element`
    std::string role;
    std::optional<std::string> subrole;
    std::optional<Rect> frame;  // relative to the window's origin; none: no position or size
    std::optional<bool> hidden;
    std::optional<bool> enabled;
    std::optional<bool> editable;
    std::optional<bool> valueSettable;  // none: the settability query fails
    bool focused = false;               // the application's focused element, until focus-element says otherwise
    std::vector<AXNodePtr> children;
    std::optional<std::vector<std::string>> visibleChildren;  // child ids; none: all children
    std::optional<int> error;                                 // every attribute read fails with this code
    // Empty for a tree's root: its parent is the application element.
    std::weak_ptr<const AXNode> parent;
};

// The element of a running application, one per process id for the platform's
// lifetime so that handles for the same pid compare equal. Immutable.
class ApplicationElementNode final : public ElementNode {
public:
    explicit ApplicationElementNode(std::int32_t pid) : pid(pid) {}
    const std::int32_t pid;
};

// The first node of the tree, depth first in child order, with this `id`.
AXNodePtr findAXNode(const AXNodePtr& root, std::string_view id);
// The first node of the tree, depth first in child order, marked `focused`.
AXNodePtr findFocusedAXNode(const AXNodePtr& root);
// The node's frame in global points. `window` is the bounds of the window
// whose tree holds it, none for application-level elements, whose frames are
// global already. Other frames are relative to the window's origin, so they
// follow a moved window; the window's own element (`windowElement`, the
// tree's root) without a frame covers the window.
std::optional<Rect> axGlobalFrame(const AXNode& node, const std::optional<Rect>& window, bool windowElement);
// The deepest element of a window's tree at a global point: the root when no
// descendant is under it. Later children lie on top of earlier ones and are
// tried first. An element without a frame has no area of its own but does not
// clip its children; one with a frame clips them.
AXNodePtr axNodeAt(const AXNodePtr& root, const Rect& window, Point point);
// The root of the tree `node` belongs to, for identity comparison with the
// trees the model holds. Ask under the desktop lock: the model's trees (and so
// their inner nodes) only go away under it. A tree that is gone yields its
// highest surviving node, which matches no window.
const AXNode* axRoot(const AXNode& node);

}  // namespace scene::simulated
