#include "ui/Migrationdlg.h"

#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>

#include <climits>

#include "ui/AppArt.h"
#include "ui/AppTexts.h"
#include "ui/DialogBehaviour.h"
#include "ui/HelpMenuButton.h"
#include "ui/LogList.h"

namespace kestrane {

namespace {
enum ControlId : int { kIdLog = 1083, kIdProgress = 1010, kIdStop = 1037, kIdHelp = 1024, kIdClose = 1 };
// The bar counts in int; longer runs are scaled down to this many steps.
constexpr uint64_t kGaugeSteps = 1u << 30;
}  // namespace

Migrationdlg::Migrationdlg(wxWindow* owner, RunState& state, Prompter& prompter, AppActions& actions,
                           std::function<void(const std::wstring&)> showStatement, std::function<void()> quit)
    : wxDialog(owner, wxID_ANY, wxString(kAppTitle), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxRESIZE_BORDER | wxMINIMIZE_BOX),
      logic_(state, prompter, actions),
      showStatement_(std::move(showStatement)),
      quit_(std::move(quit)) {
    SetIcon(MakeAppIcon());
    BuildControls();
    IgnoreEnterAndEscape(this);
    DragMovesDialog(this, this);
    // The close box is Close once the save has ended; until then Stop is the way to end it.
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
        if (event.CanVeto()) event.Veto();
        if (CloseEnabled()) OnCloseButton();
    });
}

Migrationdlg::~Migrationdlg() { ui_.Close(); }

void Migrationdlg::BuildControls() {
    const int gap = FromDIP(6);
    log_ = new wxListCtrl(this, kIdLog, wxDefaultPosition, FromDIP(wxSize(640, 320)),
                          wxLC_REPORT | wxLC_SINGLE_SEL | wxLC_HRULES | wxLC_VRULES | wxBORDER_SUNKEN);
    log_->AppendColumn("DATABASE LOG", wxLIST_FORMAT_LEFT, FromDIP(600));
    progress_ = new wxGauge(this, kIdProgress, 100, wxDefaultPosition, wxSize(-1, FromDIP(18)));
    stop_ = new wxButton(this, kIdStop, "Stop");
    stop_->SetToolTip("Stop the running process");
    close_ = new wxButton(this, kIdClose, "Close");
    close_->SetToolTip(wxString::FromUTF8("\xC3\x87lose the software"));
    close_->Disable();
    auto* help = new HelpMenuButton(this, kIdHelp, [this](int command) { logic_.OnHelpCommand(command); });
    stop_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnStopButton(); });
    close_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCloseButton(); });

    auto* progressRow = new wxBoxSizer(wxHORIZONTAL);
    progressRow->Add(progress_, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
    progressRow->Add(stop_, 0);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(help, 0);
    buttons->AddStretchSpacer();
    buttons->Add(close_, 0);
    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(log_, 1, wxEXPAND | wxALL, gap);
    outer->Add(progressRow, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    outer->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    SetSizerAndFit(outer);
    CentreOnScreen();
}

void Migrationdlg::OnCloseButton() {
    if (!close_->IsEnabled() || !logic_.OnClose()) return;
    if (quit_) quit_();
}

bool Migrationdlg::CloseEnabled() const { return close_->IsEnabled(); }

bool Migrationdlg::StopShown() const { return stop_->IsShown(); }

void Migrationdlg::AddLine(uint32_t row, const std::wstring& text) {
    ui_.RunSync([&] { InsertLogLine(*log_, row, text); });
}

void Migrationdlg::SetProgressRange(uint64_t upper) {
    ui_.RunSync([&] {
        upper_ = upper;
        progress_->SetValue(0);
        progress_->SetRange(static_cast<int>(std::max<uint64_t>(1, std::min(upper, kGaugeSteps))));
    });
}

void Migrationdlg::SetProgressPosition(uint64_t position) {
    ui_.RunSync([&] {
        position = std::min(position, upper_);
        if (upper_ > kGaugeSteps) position = position / (upper_ / kGaugeSteps + 1);
        progress_->SetValue(static_cast<int>(std::min<uint64_t>(position, progress_->GetRange())));
    });
}

void Migrationdlg::ShowStatement(const std::wstring& text) {
    if (showStatement_) showStatement_(text);
}

void Migrationdlg::SetFinished() {
    ui_.RunSync([&] {
        logic_.SetSaving(false);
        close_->Enable();
        progress_->Hide();
        stop_->Hide();
        Layout();
    });
    logic_.SetSaving(false);
}

}  // namespace kestrane
