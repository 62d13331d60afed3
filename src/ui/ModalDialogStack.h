#pragma once
// The dialogs running modally, innermost last, as the toolkit's modal hook reports them: a message box
// shown meanwhile must belong to the innermost one, or the window manager may put it behind that
// dialog, which then holds the input while the box that blocks it cannot be reached.
#include <wx/modalhook.h>
#include <wx/weakref.h>

#include <vector>

class wxDialog;

namespace kestrane {

class ModalDialogStack : public wxModalDialogHook {
public:
    ModalDialogStack() { Register(); }
    ~ModalDialogStack() override { Unregister(); }
    ModalDialogStack(const ModalDialogStack&) = delete;
    ModalDialogStack& operator=(const ModalDialogStack&) = delete;

    // The innermost dialog still running modally; null when none is.
    wxDialog* Innermost() const;

protected:
    int Enter(wxDialog* dialog) override;
    void Exit(wxDialog* dialog) override;

private:
    std::vector<wxWeakRef<wxDialog>> dialogs_;
};

}  // namespace kestrane
