#include "ui/HelpMenuButton.h"

#include <wx/menu.h>

#include "ui/AppTexts.h"

namespace kestrane {

std::unique_ptr<wxMenu> MakeHelpMenu() {
    auto menu = std::make_unique<wxMenu>();
    menu->Append(kCmdHelp, "Help");
    menu->Append(kCmdAbout, "About");
    menu->Append(kCmdHomepage, "Software Homepage");
    return menu;
}

HelpMenuButton::HelpMenuButton(wxWindow* parent, wxWindowID id, std::function<void(int)> onCommand)
    : wxButton(parent, id, wxString::FromUTF8("Help \u25BE")), onCommand_(std::move(onCommand)) {
    SetToolTip("Help");
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        std::unique_ptr<wxMenu> menu = MakeHelpMenu();
        const int chosen = GetPopupMenuSelectionFromUser(*menu, wxPoint(0, GetSize().y));
        if (chosen != wxID_NONE && onCommand_) onCommand_(chosen);
    });
}

}  // namespace kestrane
