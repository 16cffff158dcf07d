#include "platform/atspi/atspi_roles.h"

#include <array>

namespace scene::atspi {
namespace {

struct Mapping {
    std::uint32_t atspiRole;
    RoleWords words;
};

// Kept in step with the table in docs/protocol.md ("Accessibility on X").
// Toggle buttons and check boxes are check boxes, as a toggle is drawn as a
// pressed-in button but reads like a check box; a spin button is where the
// number is typed, so it is a text field; tabs are radio buttons of the tab
// group, as a tab bar behaves like one.
constexpr std::array kMappings{
    Mapping{role::pushButton, {"AXButton", ""}},
    Mapping{role::pushButtonMenu, {"AXMenuButton", ""}},
    Mapping{role::toggleButton, {"AXCheckBox", "AXToggle"}},
    Mapping{role::checkBox, {"AXCheckBox", ""}},
    Mapping{role::radioButton, {"AXRadioButton", ""}},
    Mapping{role::text, {"AXTextField", ""}},
    Mapping{role::entry, {"AXTextField", ""}},
    Mapping{role::passwordText, {"AXTextField", "AXSecureTextField"}},
    Mapping{role::spinButton, {"AXTextField", ""}},
    Mapping{role::comboBox, {"AXPopUpButton", ""}},
    Mapping{role::slider, {"AXSlider", ""}},
    Mapping{role::scrollBar, {"AXScrollBar", ""}},
    Mapping{role::progressBar, {"AXProgressIndicator", ""}},
    Mapping{role::link, {"AXLink", ""}},
    Mapping{role::menuItem, {"AXMenuItem", ""}},
    Mapping{role::radioMenuItem, {"AXMenuItem", ""}},
    Mapping{role::menu, {"AXMenu", ""}},
    Mapping{role::popupMenu, {"AXMenu", ""}},
    Mapping{role::menuBar, {"AXMenuBar", ""}},
    Mapping{role::pageTab, {"AXRadioButton", "AXTabButton"}},
    Mapping{role::pageTabList, {"AXTabGroup", ""}},
    Mapping{role::list, {"AXList", ""}},
    Mapping{role::listBox, {"AXList", ""}},
    Mapping{role::listItem, {"AXGroup", ""}},
    Mapping{role::table, {"AXTable", ""}},
    Mapping{role::treeTable, {"AXOutline", ""}},
    Mapping{role::tree, {"AXOutline", ""}},
    Mapping{role::tableRow, {"AXRow", ""}},
    Mapping{role::treeItem, {"AXRow", ""}},
    Mapping{role::tableCell, {"AXCell", ""}},
    Mapping{role::scrollPane, {"AXScrollArea", ""}},
    Mapping{role::splitPane, {"AXSplitGroup", ""}},
    Mapping{role::toolBar, {"AXToolbar", ""}},
    Mapping{role::image, {"AXImage", ""}},
    Mapping{role::icon, {"AXImage", ""}},
    Mapping{role::label, {"AXStaticText", ""}},
    Mapping{role::heading, {"AXHeading", ""}},
    Mapping{role::toolTip, {"AXHelpTag", ""}},
    Mapping{role::panel, {"AXGroup", ""}},
    Mapping{role::filler, {"AXGroup", ""}},
    Mapping{role::grouping, {"AXGroup", ""}},
    Mapping{role::frame, {"AXWindow", "AXStandardWindow"}},
    Mapping{role::dialog, {"AXWindow", "AXDialog"}},
    Mapping{role::window, {"AXWindow", ""}},
    Mapping{role::documentWeb, {"AXWebArea", ""}},
    Mapping{role::documentFrame, {"AXWebArea", ""}},
    Mapping{role::application, {"AXApplication", ""}},
};

}  // namespace

RoleWords roleWords(std::uint32_t atspiRole, StateSet states) {
    if ((atspiRole == role::text || atspiRole == role::entry) && has(states, state::multiLine))
        return {"AXTextArea", ""};
    for (const Mapping& mapping : kMappings)
        if (mapping.atspiRole == atspiRole) return mapping.words;
    return {"AXUnknown", ""};
}

std::optional<int> stateNamed(std::string_view name) {
    struct Named {
        std::string_view name;
        int bit;
    };
    static constexpr std::array kNames{
        Named{"active", state::active},        Named{"checked", state::checked}, Named{"defunct", state::defunct},
        Named{"editable", state::editable},    Named{"enabled", state::enabled}, Named{"focused", state::focused},
        Named{"multi-line", state::multiLine}, Named{"showing", state::showing}, Named{"visible", state::visible},
    };
    for (const Named& named : kNames)
        if (named.name == name) return named.bit;
    return std::nullopt;
}

bool isWindowRole(std::uint32_t atspiRole) {
    return atspiRole == role::frame || atspiRole == role::dialog || atspiRole == role::window;
}

}  // namespace scene::atspi
