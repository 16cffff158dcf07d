#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace scene::atspi {

// AT-SPI's role numbers and state bits that the mapping reads (the values of
// the AT-SPI D-Bus protocol, stable across versions).
namespace role {
constexpr std::uint32_t checkBox = 7;
constexpr std::uint32_t comboBox = 11;
constexpr std::uint32_t dialog = 16;
constexpr std::uint32_t filler = 20;
constexpr std::uint32_t frame = 23;
constexpr std::uint32_t icon = 26;
constexpr std::uint32_t image = 27;
constexpr std::uint32_t label = 29;
constexpr std::uint32_t list = 31;
constexpr std::uint32_t listItem = 32;
constexpr std::uint32_t menu = 33;
constexpr std::uint32_t menuBar = 34;
constexpr std::uint32_t menuItem = 35;
constexpr std::uint32_t pageTab = 37;
constexpr std::uint32_t pageTabList = 38;
constexpr std::uint32_t panel = 39;
constexpr std::uint32_t passwordText = 40;
constexpr std::uint32_t popupMenu = 41;
constexpr std::uint32_t progressBar = 42;
constexpr std::uint32_t pushButton = 43;
constexpr std::uint32_t radioButton = 44;
constexpr std::uint32_t radioMenuItem = 45;
constexpr std::uint32_t scrollBar = 48;
constexpr std::uint32_t scrollPane = 49;
constexpr std::uint32_t slider = 51;
constexpr std::uint32_t spinButton = 52;
constexpr std::uint32_t splitPane = 53;
constexpr std::uint32_t table = 55;
constexpr std::uint32_t tableCell = 56;
constexpr std::uint32_t text = 61;
constexpr std::uint32_t toggleButton = 62;
constexpr std::uint32_t toolBar = 63;
constexpr std::uint32_t toolTip = 64;
constexpr std::uint32_t tree = 65;
constexpr std::uint32_t treeTable = 66;
constexpr std::uint32_t window = 69;
constexpr std::uint32_t application = 75;
constexpr std::uint32_t entry = 79;
constexpr std::uint32_t documentFrame = 82;
constexpr std::uint32_t heading = 83;
constexpr std::uint32_t link = 88;
constexpr std::uint32_t tableRow = 90;
constexpr std::uint32_t treeItem = 91;
constexpr std::uint32_t documentWeb = 95;
constexpr std::uint32_t listBox = 98;
constexpr std::uint32_t grouping = 99;
constexpr std::uint32_t pushButtonMenu = 129;
}  // namespace role

// A state set as AT-SPI sends it: bit n of the 64 is state number n.
using StateSet = std::uint64_t;

namespace state {
constexpr int active = 1;
constexpr int checked = 4;
constexpr int defunct = 6;
constexpr int editable = 7;
constexpr int enabled = 8;
constexpr int focused = 12;
constexpr int multiLine = 17;
constexpr int showing = 25;
constexpr int visible = 30;
}  // namespace state

// The state an event names ("focused", "showing", ...); nothing for states
// the mapping does not read.
std::optional<int> stateNamed(std::string_view name);

constexpr bool has(StateSet states, int bit) { return (states >> bit & 1u) != 0; }

// What an AT-SPI role is called in the role words the samplers use.
struct RoleWords {
    std::string_view role;     // "AXUnknown" for roles without a counterpart
    std::string_view subrole;  // empty when there is none
};

// The one table from AT-SPI roles to role words; text roles depend on the
// multi-line state (a text area takes paragraphs, a text field one line).
RoleWords roleWords(std::uint32_t atspiRole, StateSet states);

// The roles of top-level windows (frames, dialogs and plain windows).
bool isWindowRole(std::uint32_t atspiRole);

}  // namespace scene::atspi
