#include "platform/atspi/atspi_view.h"

#include <algorithm>
#include <cstring>

#include "platform/atspi/atspi_element.h"

namespace scene::atspi {

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
    Facts* known = find(path);
    if (known == nullptr) return;
    if (on) {
        known->states |= StateSet{1} << bit;
    } else {
        known->states &= ~(StateSet{1} << bit);
    }
}

void AtspiView::childrenChanged(const std::string& path) {
    // Asked for again when needed: an index in an event is no safe place to
    // insert at once events have been missed.
    if (Facts* known = find(path)) known->children.reset();
    moved();
}

void AtspiView::add(GVariant* entry) {
    Item item = readItem(entry);
    moved();
    childrenChanged(item.parent);
    Facts& facts = this->facts[item.path];
    const auto extents = facts.extents;
    const auto epochRead = facts.extentsEpoch;
    facts = std::move(item.facts);
    facts.extents = extents;
    facts.extentsEpoch = epochRead;
}

void AtspiView::remove(const std::string& path) {
    const auto found = facts.find(path);
    if (found == facts.end() || path == kRootPath) return;
    if (found->second.parent) childrenChanged(*found->second.parent);
    facts.erase(found);
    moved();
}

Facts* AtspiView::find(const std::string& path) {
    const auto found = facts.find(path);
    return found == facts.end() ? nullptr : &found->second;
}

}  // namespace scene::atspi
