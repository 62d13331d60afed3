#pragma once
// The start dialog: the log and data file choices, Next, Close and the Help menu. Its logic is
// StartDialogLogic; this class binds it to the controls and owns the main dialog it creates.
#include <wx/dialog.h>
#include <wx/textctrl.h>

#include "ui/StartDialogLogic.h"

namespace kestrane {

class CPilot_ConsoleApp;
class CPilot_ConsoleDlg;

class Opendlg : public wxDialog, public StartDialogView {
public:
    Opendlg(CPilot_ConsoleApp& app, const std::string& activityLogPath);
    ~Opendlg() override;

    StartDialogLogic& Logic() { return logic_; }
    CPilot_ConsoleDlg* MainDialog() const { return mainDialog_; }
    // Back from the main dialog: show this dialog again and free the main dialog.
    void OnMainDialogBack();
    // Ends the program from the main dialog's Close: both windows go.
    void DestroyMainDialog();

    void SetLogPathBox(const std::wstring& path) override { ShowPath(logPath_, path); }
    void SetDataPathBox(const std::wstring& path) override { ShowPath(dataPath_, path); }
    std::wstring LogPathBoxText() const override { return logPath_->GetValue().ToStdWstring(); }
    std::wstring DataPathBoxText() const override { return dataPath_->GetValue().ToStdWstring(); }
    bool CreateMainDialog() override;
    void HideStartDialog() override { Hide(); }

private:
    // Puts a path into its box with the file name in view: a long folder would hide it.
    static void ShowPath(wxTextCtrl* box, const std::wstring& path);
    std::optional<std::wstring> AskForFile(const wxString& filter);
    void OnClose();
    void OnCancel();

    CPilot_ConsoleApp& app_;
    StartDialogLogic logic_;
    wxTextCtrl* logPath_ = nullptr;
    wxTextCtrl* dataPath_ = nullptr;
    CPilot_ConsoleDlg* mainDialog_ = nullptr;
};

}  // namespace kestrane
