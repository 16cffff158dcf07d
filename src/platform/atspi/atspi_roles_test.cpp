#include "platform/atspi/atspi_roles.h"

#include <gtest/gtest.h>

namespace scene::atspi {
namespace {

constexpr StateSet bit(int state) { return StateSet{1} << state; }

TEST(AtspiRolesTest, RolesBecomeTheWordsTheSamplersKnow) {
    struct Case {
        std::uint32_t role;
        StateSet states;
        std::string_view words;
        std::string_view subrole;
    };
    for (const auto& [atspiRole, states, words, subrole] : {
             Case{role::pushButton, 0, "AXButton", ""},
             Case{role::toggleButton, 0, "AXCheckBox", "AXToggle"},
             Case{role::passwordText, 0, "AXTextField", "AXSecureTextField"},
             Case{role::text, bit(state::showing), "AXTextField", ""},
             // A multi-line text takes paragraphs.
             Case{role::text, bit(state::multiLine), "AXTextArea", ""},
             Case{role::entry, bit(state::multiLine) | bit(state::focused), "AXTextArea", ""},
             Case{role::scrollPane, 0, "AXScrollArea", ""},
             Case{role::pageTabList, 0, "AXTabGroup", ""},
             Case{role::frame, 0, "AXWindow", "AXStandardWindow"},
             Case{role::documentWeb, 0, "AXWebArea", ""},
             Case{9999, 0, "AXUnknown", ""},
         }) {
        SCOPED_TRACE(atspiRole);
        const RoleWords mapped = roleWords(atspiRole, states);
        EXPECT_EQ(mapped.role, words);
        EXPECT_EQ(mapped.subrole, subrole);
    }
    EXPECT_TRUE(isWindowRole(role::dialog));
    EXPECT_FALSE(isWindowRole(role::application));
}

}  // namespace
}  // namespace scene::atspi
