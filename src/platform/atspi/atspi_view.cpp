#include "platform/atspi/atspi_view.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string_view>

#include "platform/atspi/atspi_element.h"

namespace scene::atspi {
namespace {

// How far up from a scroll bar the pane it scrolls may be.
constexpr int kPaneSteps = 3;
// How deep one accessible may hold another, for trees whose children lists
// are not all known.
constexpr int kHoldingDepth = 64;

}  // namespace

StateSet stateSet(GVariant* words) {
    StateSet states = 0;
    const gsize count = g_variant_n_children(words);
    for (gsize index = 0; index < count && index < 2; ++index) {
        guint32 word = 0;
        g_variant_get_child(words, index, "u", &word);
        states |= static_cast<StateSet>(word) << (32 * index);
    }
    return states;
}

void readInterfaces(GVariant* names, Facts& facts) {
    GVariantIter iter;
    g_variant_iter_init(&iter, names);
    const gchar* name = nullptr;
    while (g_variant_iter_next(&iter, "&s", &name)) {
        if (std::strcmp(name, "org.a11y.atspi.EditableText") == 0) facts.editableText = true;
        if (std::strcmp(name, "org.a11y.atspi.Value") == 0) facts.value = true;
    }
}

AtspiView AtspiView::empty(double taken) {
    AtspiView view;
    view.taken = taken;
    view.facts[std::string(kRootPath)].role = role::application;
    return view;
}

namespace {

struct Item {
    std::string path;
    std::string parent;
    int index = 0;
    int childCount = 0;
    Facts facts;
};

Item readItem(GVariant* entry) {
    const gchar* path = nullptr;
    const gchar* parent = nullptr;
    gint32 index = 0;
    gint32 childCount = 0;
    guint32 atspiRole = 0;
    GVariant* interfaces = nullptr;
    GVariant* states = nullptr;
    g_variant_get(entry, "((&s&o)(&s&o)(&s&o)ii@as&su&s@au)", nullptr, &path, nullptr, nullptr, nullptr, &parent,
                  &index, &childCount, &interfaces, nullptr, &atspiRole, nullptr, &states);
    Item item{path, parent, index, childCount, {}};
    item.facts.role = atspiRole;
    item.facts.states = stateSet(states);
    item.facts.parent = item.parent;
    readInterfaces(interfaces, item.facts);
    // Leaves are complete with no children at all.
    if (childCount == 0) item.facts.children.emplace();
    g_variant_unref(interfaces);
    g_variant_unref(states);
    return item;
}

}  // namespace

AtspiView AtspiView::fromCache(GVariant* items, double taken) {
    AtspiView view = empty(taken);
    std::vector<Item> placed;
    const gsize total = g_variant_n_children(items);
    placed.reserve(total);
    for (gsize index = 0; index < total; ++index) {
        GVariant* entry = g_variant_get_child_value(items, index);
        placed.push_back(readItem(entry));
        g_variant_unref(entry);
        view.facts[placed.back().path] = placed.back().facts;
    }
    std::sort(placed.begin(), placed.end(), [](const Item& a, const Item& b) {
        return a.parent != b.parent ? a.parent < b.parent : a.index < b.index;
    });
    std::map<std::string, int> counts;
    for (const Item& item : placed) counts[item.path] = item.childCount;
    for (auto begin = placed.begin(); begin != placed.end();) {
        auto end = std::find_if(begin, placed.end(), [&](const Item& p) { return p.parent != begin->parent; });
        Facts* parent = view.find(begin->parent);
        const auto expected = counts.find(begin->parent);
        const auto known = static_cast<int>(end - begin);
        // The root is never in the reply; its children all are.
        if (parent != nullptr && (expected == counts.end() ? begin->parent == kRootPath : expected->second == known)) {
            std::vector<std::string> children;
            children.reserve(static_cast<std::size_t>(known));
            for (auto child = begin; child != end; ++child) children.push_back(child->path);
            parent->children = std::move(children);
        }
        begin = end;
    }
    return view;
}

void AtspiView::changeState(const std::string& path, int bit, bool on) {
    // What shows or hides makes room among its siblings or takes it.
    const bool layout = bit == state::showing || bit == state::visible;
    Facts* known = find(path);
    if (known == nullptr) {
        if (layout) stale = true;
        return;
    }
    if (on) {
        known->states |= StateSet{1} << bit;
    } else {
        known->states &= ~(StateSet{1} << bit);
    }
    if (layout) moved(known->parent.value_or(path));
}

void AtspiView::announce(const std::string& path, const Rect& bounds) {
    Facts* known = find(path);
    if (known == nullptr) {
        stale = true;
        return;
    }
    if (known->announced && *known->announced == bounds) return;
    known->announced = bounds;
    moved(path);
}

void AtspiView::scrolled(const std::string& scrollBar) {
    // The scroll bar sits in what it scrolls, next to the view of it (some
    // toolkits put a container of their own in between).
    const Facts* bar = find(scrollBar);
    if (bar == nullptr || !bar->parent) {
        stale = true;
        return;
    }
    std::string pane = *bar->parent;
    std::string up = pane;
    for (int step = 0; step < kPaneSteps; ++step) {
        const Facts* facts = find(up);
        if (facts == nullptr) break;
        if (facts->role == role::scrollPane) {
            pane = up;
            break;
        }
        if (!facts->parent) break;
        up = *facts->parent;
    }
    moved(pane);
}

void AtspiView::childrenChanged(const std::string& path) {
    // Asked for again when needed: an index in an event is no safe place to
    // insert at once events have been missed.
    Facts* known = find(path);
    if (known == nullptr) {
        stale = true;
        return;
    }
    known->children.reset();
    moved(path);
}

void AtspiView::add(GVariant* entry) {
    Item item = readItem(entry);
    Facts& facts = this->facts[item.path];
    const auto announced = facts.announced;
    facts = std::move(item.facts);
    facts.announced = announced;
    childrenChanged(item.parent);
}

void AtspiView::remove(const std::string& path) {
    const auto found = facts.find(path);
    if (found == facts.end() || path == kRootPath) return;
    if (found->second.parent) {
        childrenChanged(*found->second.parent);
    } else {
        stale = true;
    }
    facts.erase(found);
}

void AtspiView::moved(const std::string& path) {
    if (find(path) == nullptr) {
        stale = true;
        return;
    }
    unsettled.insert(path);
}

void AtspiView::settle() {
    if (unsettled.empty()) return;
    // Down the children lists; where one was dropped after a change, the
    // parent links tell what is inside. Each accessible is seen once, also
    // where a toolkit lists one among its own descendants.
    std::vector<std::string_view> pending(unsettled.begin(), unsettled.end());
    std::set<std::string_view> seen;
    bool listed = true;
    while (!pending.empty()) {
        const std::string_view path = pending.back();
        pending.pop_back();
        const auto found = facts.find(path);
        if (found == facts.end() || !seen.insert(path).second) continue;
        Facts& here = found->second;
        here.extentsEpoch = 0;
        if (!here.children) {
            listed = false;
            continue;
        }
        pending.insert(pending.end(), here.children->begin(), here.children->end());
    }
    if (!listed) {
        // Each accessible's way up is followed once: what lies on it shares
        // the answer.
        std::map<std::string_view, bool> inside;
        for (auto& [path, known] : facts) {
            std::vector<std::string_view> way;
            std::string_view at = path;
            bool held = false;
            for (int step = 0; step <= kHoldingDepth; ++step) {
                if (unsettled.contains(at)) {
                    held = true;
                    break;
                }
                if (const auto answer = inside.find(at); answer != inside.end()) {
                    held = answer->second;
                    break;
                }
                way.push_back(at);
                const auto up = facts.find(at);
                if (up == facts.end() || !up->second.parent) break;
                at = *up->second.parent;
            }
            for (const auto step : way) inside.emplace(step, held);
            if (held) known.extentsEpoch = 0;
        }
    }
    unsettled.clear();
}

void AtspiView::follow(const AtspiView& before) {
    epoch = before.epoch + 1;
    for (auto& [path, known] : facts) {
        const auto found = before.facts.find(path);
        if (found != before.facts.end()) known.announced = found->second.announced;
    }
}

Facts* AtspiView::find(const std::string& path) {
    const auto found = facts.find(path);
    return found == facts.end() ? nullptr : &found->second;
}

}  // namespace scene::atspi
