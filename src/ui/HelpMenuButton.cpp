#include "ui/HelpMenuButton.h"

#include <wx/menu.h>

#include "ui/AppTexts.h"

namespace kestrane {

HelpMenuButton::HelpMenuButton(wxWindow* parent, wxWindowID id, std::function<void(int)> onCommand)
    : wxButton(parent, id, wxString::FromUTF8("Help \u25BE")), onCommand_(std::move(onCommand)) {
    SetToolTip("Help");
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        wxMenu menu;
        menu.Append(kCmdHelp, "Help");
        menu.Append(kCmdAbout, "About");
        menu.Append(kCmdHomepage, "Software Homepage");
        const int chosen = GetPopupMenuSelectionFromUser(menu, wxPoint(0, GetSize().y));
        if (chosen != wxID_NONE && onCommand_) onCommand_(chosen);
    });
}

}  // namespace kestrane
