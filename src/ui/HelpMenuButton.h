#pragma once
// The dialogs' Help menu button: a button that drops down "Help", "About" and "Software Homepage".
#include <wx/button.h>

#include <functional>

namespace kestrane {

class HelpMenuButton : public wxButton {
public:
    HelpMenuButton(wxWindow* parent, wxWindowID id, std::function<void(int command)> onCommand);

private:
    std::function<void(int)> onCommand_;
};

}  // namespace kestrane
