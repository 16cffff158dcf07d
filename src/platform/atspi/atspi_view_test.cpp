#include "platform/atspi/atspi_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/atspi/atspi_element.h"

namespace scene::atspi {
namespace {

// One cache entry as a toolkit sends it.
GVariant* item(const char* path, const char* parent, int index, int childCount, std::uint32_t atspiRole,
               std::uint32_t lowStates, std::vector<const char*> interfaces) {
    const guint32 states[] = {lowStates, 0};
    return g_variant_new("((so)(so)(so)ii@as&su&s@au)", ":1.7", path, ":1.7", "/org/a11y/atspi/accessible/root", ":1.7",
                         parent, index, childCount,
                         g_variant_new_strv(interfaces.data(), static_cast<gssize>(interfaces.size())), "", atspiRole,
                         "", g_variant_new_fixed_array(G_VARIANT_TYPE_UINT32, states, 2, sizeof(guint32)));
}

TEST(AtspiViewTest, ACacheReplyIsTheTreeWithChildrenWhereTheReplyHasThemAll) {
    const char* root = "/org/a11y/atspi/accessible/root";
    const guint32 showing = 1u << state::showing;
    // Out of order on purpose: children are placed by their index.
    GVariant* entries[] = {
        item("/w/entry", "/w", 1, 0, role::text, showing | 1u << state::editable,
             {"org.a11y.atspi.Accessible", "org.a11y.atspi.EditableText"}),
        item("/w", root, 0, 2, role::frame, showing | 1u << state::active, {}),
        item("/w/save", "/w", 0, 0, role::pushButton, showing, {}),
        // A list that says it holds three rows but sent one.
        item("/list", root, 1, 3, role::list, showing, {}),
        item("/list/row", "/list", 0, 0, role::listItem, 0, {"org.a11y.atspi.Value"}),
    };
    GVariant* items = g_variant_ref_sink(g_variant_new_array(nullptr, entries, std::size(entries)));
    AtspiView view = AtspiView::fromCache(items, 12.5);
    g_variant_unref(items);

    EXPECT_EQ(view.taken, 12.5);
    EXPECT_EQ(view.find(root)->children, (std::vector<std::string>{"/w", "/list"}));
    EXPECT_EQ(view.find("/w")->children, (std::vector<std::string>{"/w/save", "/w/entry"}));
    EXPECT_FALSE(view.find("/list")->children);  // asked for when needed
    EXPECT_EQ(view.find("/w/save")->children, std::vector<std::string>{});
    EXPECT_EQ(view.find("/w/entry")->parent, "/w");
    EXPECT_TRUE(has(view.find("/w")->states, state::active));
    EXPECT_TRUE(has(view.find("/w/entry")->states, state::editable));
    EXPECT_TRUE(view.find("/w/entry")->editableText);
    EXPECT_FALSE(view.find("/w/save")->editableText);
    EXPECT_TRUE(view.find("/list/row")->value);
    EXPECT_EQ(view.find("/w/save")->role, role::pushButton);
    EXPECT_FALSE(view.find("/w/save")->extents);
    EXPECT_EQ(view.find("/elsewhere"), nullptr);
}

// A window with a button and a scrolled list of two rows, every extent read
// in the current epoch; then one event. What the event may have moved has
// old extents, the rest are still good.
TEST(AtspiViewTest, AnEventMakesOldTheExtentsOfWhatItMayHaveMoved) {
    const char* root = "/org/a11y/atspi/accessible/root";
    const guint32 shown = 1u << state::showing | 1u << state::visible;
    const std::vector<std::string> all{"/w", "/w/box", "/w/save", "/w/pane", "/w/bar", "/w/port", "/w/row0", "/w/row1"};
    const auto window = [&] {
        GVariant* entries[] = {
            item("/w", root, 0, 1, role::frame, shown, {}),
            item("/w/box", "/w", 0, 2, role::filler, shown, {}),
            item("/w/save", "/w/box", 0, 0, role::pushButton, shown, {}),
            item("/w/pane", "/w/box", 1, 2, role::scrollPane, shown, {}),
            item("/w/bar", "/w/pane", 0, 0, role::scrollBar, shown, {"org.a11y.atspi.Value"}),
            item("/w/port", "/w/pane", 1, 2, role::panel, shown, {}),
            item("/w/row0", "/w/port", 0, 0, role::pushButton, shown, {}),
            item("/w/row1", "/w/port", 1, 0, role::pushButton, shown, {}),
        };
        GVariant* items = g_variant_ref_sink(g_variant_new_array(nullptr, entries, std::size(entries)));
        AtspiView view = AtspiView::fromCache(items, 1);
        g_variant_unref(items);
        for (const auto& path : all) {
            view.find(path)->extents = Rect{0, 0, 10, 10};
            view.find(path)->extentsEpoch = view.epoch;
        }
        return view;
    };
    const Rect bounds{8, 8, 100, 20};
    const std::vector<std::string> list{"/w/pane", "/w/bar", "/w/port", "/w/row0", "/w/row1"};
    struct Case {
        const char* event;
        std::function<void(AtspiView&)> apply;
        std::vector<std::string> old;
        bool stale = false;
    };
    const Case cases[] = {
        {"the scroll bar moved", [](AtspiView& view) { view.scrolled("/w/bar"); }, list},
        {"bounds announced for the first time", [&](AtspiView& view) { view.announce("/w/pane", bounds); }, list},
        {"bounds announced as they were",
         [&](AtspiView& view) {
             view.announce("/w/pane", bounds);
             view.settle();
             for (const auto& path : list) view.find(path)->extentsEpoch = view.epoch;
             view.announce("/w/pane", bounds);
         },
         {}},
        {"bounds announced anew",
         [&](AtspiView& view) {
             view.announce("/w/row0", bounds);
             view.settle();
             view.find("/w/row0")->extentsEpoch = view.epoch;
             view.announce("/w/row0", Rect{8, 30, 100, 20});
         },
         {"/w/row0"}},
        {"the button was hidden",
         [](AtspiView& view) { view.changeState("/w/save", state::visible, false); },
         {"/w/box", "/w/save", "/w/pane", "/w/bar", "/w/port", "/w/row0", "/w/row1"}},
        {"the button was focused", [](AtspiView& view) { view.changeState("/w/save", state::focused, true); }, {}},
        // The list of children is dropped: what is inside is found by its parent.
        {"a row came", [](AtspiView& view) { view.childrenChanged("/w/port"); }, {"/w/port", "/w/row0", "/w/row1"}},
        {"a row went", [](AtspiView& view) { view.remove("/w/row1"); }, {"/w/port", "/w/row0"}},
        {"an accessible the view never heard of",
         [&](AtspiView& view) { view.announce("/w/other", bounds); },
         {},
         true},
    };
    for (const auto& [event, apply, old, stale] : cases) {
        SCOPED_TRACE(event);
        AtspiView view = window();
        apply(view);
        view.settle();
        EXPECT_EQ(view.stale, stale);
        for (const auto& path : all) {
            const Facts* facts = view.find(path);
            if (facts == nullptr) continue;
            const bool kept = facts->extentsEpoch == view.epoch;
            EXPECT_EQ(kept, std::find(old.begin(), old.end(), path) == old.end()) << path;
        }
    }
}

}  // namespace
}  // namespace scene::atspi
