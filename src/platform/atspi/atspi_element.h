#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/accessibility.h"

namespace scene::atspi {

// The object path of an application's root accessible; every toolkit's
// bridge puts it there.
inline constexpr std::string_view kRootPath = "/org/a11y/atspi/accessible/root";

// One accessible: the bus name of its application's connection and its
// object path there. Immutable.
class AtspiElementNode final : public ElementNode {
public:
    AtspiElementNode(std::string bus, std::string path, std::int32_t pid)
        : bus(std::move(bus)), path(std::move(path)), pid(pid) {}
    const std::string bus;
    const std::string path;
    const std::int32_t pid;  // the application's process id
    bool isApplication() const { return path == kRootPath; }
};

// Hands out one node per accessible, so that two handles of the same
// accessible compare equal (the interface's element equality is node
// identity). Nodes nobody holds any more are forgotten now and then. Any
// thread.
class ElementTable {
public:
    Element element(const std::string& bus, const std::string& path, std::int32_t pid);

private:
    std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, std::weak_ptr<const AtspiElementNode>> nodes_;
    std::size_t sweepAt_ = 4096;
};

// The node behind a handle of this back-end; none for a foreign or empty one.
const AtspiElementNode* atspiNode(const Element& element);

}  // namespace scene::atspi
