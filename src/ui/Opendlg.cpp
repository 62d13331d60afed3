#include "ui/Opendlg.h"

#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <filesystem>

#include "ui/AppArt.h"
#include "ui/AppTexts.h"
#include "ui/DialogBehaviour.h"
#include "ui/HelpMenuButton.h"
#include "ui/PilotConsoleApp.h"
#include "ui/PilotConsoleDlg.h"

namespace kestrane {

namespace {
enum ControlId : int {
    kIdLogPath = 1068, kIdBrowseLog = 1067, kIdDataPath = 1069, kIdBrowseData = 1057,
    kIdNext = 1016, kIdClose = 1, kIdHelp = 1024,
};
}  // namespace

Opendlg::Opendlg(CPilot_ConsoleApp& app, const std::string& activityLogPath)
    : wxDialog(nullptr, wxID_ANY, wxString(kAppTitle), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxCLOSE_BOX | wxMINIMIZE_BOX),
      app_(app),
      logic_(app.State(), app.Prompts(), *this, app, activityLogPath) {
    const int gap = FromDIP(8);
    SetIcon(MakeAppIcon());

    auto* group = new wxStaticBoxSizer(wxVERTICAL, this, "Select Database File(s)");
    wxWindow* box = group->GetStaticBox();
    auto* rows = new wxFlexGridSizer(3, gap, gap);
    rows->AddGrowableCol(1);
    // Paths may be typed or pasted as well as browsed; Next checks them as the browse does.
    logPath_ = new wxTextCtrl(box, kIdLogPath, wxString(), wxDefaultPosition, wxSize(FromDIP(380), -1));
    dataPath_ = new wxTextCtrl(box, kIdDataPath, wxString(), wxDefaultPosition, wxSize(FromDIP(380), -1));
    auto* browseLog = new wxButton(box, kIdBrowseLog, "...", wxDefaultPosition, wxSize(FromDIP(36), -1));
    auto* browseData = new wxButton(box, kIdBrowseData, "...", wxDefaultPosition, wxSize(FromDIP(36), -1));
    auto* logLabel = new wxStaticText(box, wxID_ANY, "LDF File:");
    auto* dataLabel = new wxStaticText(box, wxID_ANY, "MDF File:");
    rows->Add(logLabel, 0, wxALIGN_CENTER_VERTICAL);
    rows->Add(logPath_, 1, wxEXPAND);
    rows->Add(browseLog, 0);
    rows->Add(dataLabel, 0, wxALIGN_CENTER_VERTICAL);
    rows->Add(dataPath_, 1, wxEXPAND);
    rows->Add(browseData, 0);
    group->Add(rows, 1, wxEXPAND | wxALL, gap);

    auto* help = new HelpMenuButton(this, kIdHelp, [this](int command) { logic_.OnHelpCommand(command); });
    auto* next = new wxButton(this, kIdNext, "Next");
    next->SetToolTip("Click Next to continue the application");
    auto* close = new wxButton(this, kIdClose, "Close");
    close->SetToolTip("Close the application");

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(help, 0);
    buttons->AddStretchSpacer();
    buttons->Add(next, 0, wxRIGHT, gap);
    buttons->Add(close, 0);

    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(group, 1, wxEXPAND | wxALL, gap);
    outer->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    SetSizerAndFit(outer);
    CentreOnScreen();

    IgnoreEnterAndEscape(this);
    DragMovesDialog(this, this);
    DragMovesDialog(this, box);
    DragMovesDialog(this, logLabel);
    DragMovesDialog(this, dataLabel);

    browseLog->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        logic_.OnBrowseLogFile(AskForFile(".ldf Files (*.ldf)|*[lL][dD][fF]"));
    });
    browseData->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        logic_.OnBrowseDataFile(AskForFile(".mdf Files (*.mdf)|*[mM][dD][fF]"));
    });
    next->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { logic_.OnNext(); });
    close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnClose(); });
    // The window manager's close box is the hidden Cancel button.
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
        if (event.CanVeto()) event.Veto();
        OnCancel();
    });

    logic_.OnInitDialog();
}

Opendlg::~Opendlg() { DestroyMainDialog(); }

void Opendlg::ShowPath(wxTextCtrl* box, const std::wstring& path) {
    box->ChangeValue(wxString(path));
    box->SetInsertionPointEnd();
    box->ShowPosition(box->GetLastPosition());
}

// The pattern matches the extension in any case, as the file names of Windows servers come.
std::optional<std::wstring> Opendlg::AskForFile(const wxString& filter) {
    wxFileDialog dialog(this, wxFileSelectorPromptStr, wxString(), wxString(), filter,
                        wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    return dialog.GetPath().ToStdWstring();
}

bool Opendlg::CreateMainDialog() {
    DestroyMainDialog();
    mainDialog_ = new CPilot_ConsoleDlg(this, app_);
    mainDialog_->Show();
    return true;
}

void Opendlg::OnMainDialogBack() {
    Show();
    Raise();
    DestroyMainDialog();
}

void Opendlg::DestroyMainDialog() {
    if (!mainDialog_) return;
    CPilot_ConsoleDlg* dialog = mainDialog_;
    mainDialog_ = nullptr;
    dialog->Shutdown();
    dialog->Hide();
    dialog->Destroy();
}

void Opendlg::OnClose() {
    if (!logic_.OnClose()) return;
    app_.Terminate();
}

void Opendlg::OnCancel() {
    if (!logic_.OnCancel()) return;
    app_.Quit(0);
}

}  // namespace kestrane
