#include "ui/ModalDialogStack.h"

#include <wx/dialog.h>
#include <wx/msgdlg.h>

namespace kestrane {

wxDialog* ModalDialogStack::Innermost() const {
    for (auto it = dialogs_.rbegin(); it != dialogs_.rend(); ++it)
        if (wxDialog* dialog = it->get(); dialog && dialog->IsModal()) return dialog;
    return nullptr;
}

int ModalDialogStack::Enter(wxDialog* dialog) {
    // Message boxes own nothing: two that meet belong to the same dialog.
    if (!dynamic_cast<wxMessageDialogBase*>(dialog)) dialogs_.emplace_back(dialog);
    return wxID_NONE;
}

void ModalDialogStack::Exit(wxDialog* dialog) {
    for (auto it = dialogs_.rbegin(); it != dialogs_.rend(); ++it) {
        if (it->get() == dialog) {
            dialogs_.erase(std::next(it).base());
            break;
        }
    }
    // Entries whose dialog is gone without an exit (another hook answered it first) go too.
    std::erase_if(dialogs_, [](const wxWeakRef<wxDialog>& ref) { return !ref; });
}

}  // namespace kestrane
