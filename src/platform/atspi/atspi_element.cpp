#include "platform/atspi/atspi_element.h"

namespace scene::atspi {

Element ElementTable::element(const std::string& bus, const std::string& path, std::int32_t pid) {
    std::lock_guard lock(mutex_);
    auto& slot = nodes_[{bus, path}];
    if (auto node = slot.lock(); node && node->pid == pid) return Element(std::move(node));
    auto node = std::make_shared<const AtspiElementNode>(bus, path, pid);
    slot = node;
    if (nodes_.size() >= sweepAt_) {
        std::erase_if(nodes_, [](const auto& entry) { return entry.second.expired(); });
        sweepAt_ = std::max<std::size_t>(4096, nodes_.size() * 2);
    }
    return Element(std::move(node));
}

const AtspiElementNode* atspiNode(const Element& element) {
    return dynamic_cast<const AtspiElementNode*>(element.node());
}

}  // namespace scene::atspi
