#pragma once
// The dialogs' Help menu button: a button that drops down "Help", "About" and "Software Homepage".
#include <wx/button.h>

#include <functional>
#include <memory>

class wxMenu;

namespace kestrane {

// "Help", "About" and "Software Homepage" with their command ids.
std::unique_ptr<wxMenu> MakeHelpMenu();

class HelpMenuButton : public wxButton {
public:
    HelpMenuButton(wxWindow* parent, wxWindowID id, std::function<void(int command)> onCommand);

private:
    std::function<void(int)> onCommand_;
};

}  // namespace kestrane
