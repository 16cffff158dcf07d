#include "platform/atspi/atspi_view.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace scene::atspi
