#include "ui/SaveoptionDlg.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/datectrl.h>
#include <wx/dirdlg.h>
#include <wx/listctrl.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timectrl.h>

#include "ui/AppArt.h"
#include "ui/AppTexts.h"
#include "ui/DialogBehaviour.h"
#include "ui/LogList.h"

namespace kestrane {

namespace {
constexpr int kTestLogWidth = 600;
}  // namespace

SaveoptionDlg::SaveoptionDlg(wxWindow* parent, RunState& state, Prompter& prompter, SaveOptionsSetup setup,
                             FolderChooser chooseFolder)
    : wxDialog(parent, wxID_ANY, wxString(kAppTitle), wxDefaultPosition, wxDefaultSize, wxCAPTION),
      logic_(state, prompter, *this, ui_, [this](std::function<void()> work) { Launch(std::move(work)); },
             std::move(setup)),
      chooseFolder_(std::move(chooseFolder)) {
    SetIcon(MakeAppIcon());
    BuildControls();
    IgnoreEnterAndEscape(this);
    DragMovesDialog(this, this);
    // The close box is Cancel, and waits like Cancel while the connection test uses the dialog.
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
        if (!logic_.OnCloseRequest() && event.CanVeto()) event.Veto();
    });
    logic_.OnInitDialog();
}

SaveoptionDlg::~SaveoptionDlg() {
    ui_.Close();
    for (std::thread& worker : workers_)
        if (worker.joinable()) worker.join();
}

void SaveoptionDlg::Launch(std::function<void()> work) { workers_.emplace_back(std::move(work)); }

void SaveoptionDlg::BuildControls() {
    const int gap = FromDIP(6);
    auto remember = [this](SaveOption id, wxWindow* window) {
        controls_[id] = window;
        return window;
    };
    auto button = [&](wxWindow* parent, SaveOption id, const char* caption, const char* tip) {
        auto* b = new wxButton(parent, static_cast<int>(id), caption);
        if (tip) b->SetToolTip(tip);
        remember(id, b);
        return b;
    };
    auto bind = [](wxWindow* window, std::function<void()> handler) {
        window->Bind(wxEVT_BUTTON, [handler](wxCommandEvent&) { handler(); });
    };

    // Operations to be saved.
    auto* kinds = new wxStaticBoxSizer(wxHORIZONTAL, this, "Operations to be saved:");
    for (auto [id, caption] : {std::pair{SaveOption::Insert, "INSERT"}, std::pair{SaveOption::Delete, "DELETE"},
                               std::pair{SaveOption::Update, "UPDATE"}})
        kinds->Add(remember(id, new wxCheckBox(kinds->GetStaticBox(), static_cast<int>(id), caption)), 0,
                   wxALL, gap);

    // Date ranges: a date picker and a time picker side by side for each end. A day chosen alone
    // covers the whole day.
    auto* dates = new wxStaticBoxSizer(wxVERTICAL, this, "Date Filter to save Operations:");
    wxWindow* datesBox = dates->GetStaticBox();
    const wxDateTime today = wxDateTime::Today();
    fromDate_ = new wxDatePickerCtrl(datesBox, static_cast<int>(SaveOption::From), today);
    fromTime_ = new wxTimePickerCtrl(datesBox, wxID_ANY, today);
    toDate_ = new wxDatePickerCtrl(datesBox, static_cast<int>(SaveOption::To), today);
    toTime_ = new wxTimePickerCtrl(datesBox, wxID_ANY, wxDateTime(today).SetHour(23).SetMinute(59).SetSecond(59));
    remember(SaveOption::From, fromDate_);
    remember(SaveOption::To, toDate_);
    auto* pickers = new wxFlexGridSizer(2, 4, gap, gap);
    pickers->Add(new wxStaticText(datesBox, wxID_ANY, "From:"), 0, wxALIGN_CENTER_VERTICAL);
    pickers->Add(fromDate_);
    pickers->Add(fromTime_);
    pickers->Add(button(datesBox, SaveOption::Add, "Add", "Add"), 0, wxEXPAND);
    pickers->Add(new wxStaticText(datesBox, wxID_ANY, "To:"), 0, wxALIGN_CENTER_VERTICAL);
    pickers->Add(toDate_);
    pickers->Add(toTime_);
    pickers->Add(button(datesBox, SaveOption::Remove, "Remove", "Remove"), 0, wxEXPAND);
    ranges_ = new wxListCtrl(datesBox, static_cast<int>(SaveOption::Ranges), wxDefaultPosition,
                             FromDIP(wxSize(-1, 110)), wxLC_REPORT | wxLC_SINGLE_SEL | wxLC_HRULES | wxLC_VRULES);
    ranges_->AppendColumn("From", wxLIST_FORMAT_LEFT, FromDIP(200));
    ranges_->AppendColumn("To", wxLIST_FORMAT_LEFT, FromDIP(200));
    remember(SaveOption::Ranges, ranges_);
    dates->Add(pickers, 0, wxALL, gap);
    dates->Add(ranges_, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);

    // Target: a SQL Server database. The target radios are siblings of one group; the authentication
    // radios, inside the box, form another.
    auto* databaseTarget = new wxRadioButton(this, static_cast<int>(SaveOption::DatabaseTarget),
                                             "Save in SQL Server Database:", wxDefaultPosition, wxDefaultSize,
                                             wxRB_GROUP);
    remember(SaveOption::DatabaseTarget, databaseTarget);
    auto* database = new wxStaticBoxSizer(wxVERTICAL, this, wxString());
    wxWindow* databaseBox = database->GetStaticBox();
    auto* windowsAuth = new wxRadioButton(databaseBox, static_cast<int>(SaveOption::WindowsAuth),
                                          "Windows Authentication", wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
    auto* sqlAuth = new wxRadioButton(databaseBox, static_cast<int>(SaveOption::SqlAuth), "Sql Server Authentication");
    remember(SaveOption::WindowsAuth, windowsAuth);
    remember(SaveOption::SqlAuth, sqlAuth);
    auto* user = new wxTextCtrl(databaseBox, static_cast<int>(SaveOption::UserName));
    auto* password = new wxTextCtrl(databaseBox, static_cast<int>(SaveOption::Password), wxString(),
                                    wxDefaultPosition, wxDefaultSize, wxTE_PASSWORD);
    remember(SaveOption::UserName, user);
    remember(SaveOption::Password, password);
    server_ = new wxComboBox(databaseBox, static_cast<int>(SaveOption::Server));
    remember(SaveOption::Server, server_);
    auto* databaseName = new wxTextCtrl(databaseBox, static_cast<int>(SaveOption::Database));
    remember(SaveOption::Database, databaseName);
    auto* scan = button(databaseBox, SaveOption::Scan, "Scan Sever Instances", nullptr);
    auto* test = button(databaseBox, SaveOption::Test, "Test Database Connection", "Test database connection");
    testLog_ = new wxListCtrl(databaseBox, static_cast<int>(SaveOption::TestLog), wxDefaultPosition,
                              FromDIP(wxSize(-1, 120)), wxLC_REPORT | wxLC_SINGLE_SEL | wxLC_HRULES | wxLC_VRULES);
    testLog_->AppendColumn("TEST LOG", wxLIST_FORMAT_LEFT, FromDIP(kTestLogWidth));
    remember(SaveOption::TestLog, testLog_);

    auto* authRow = new wxBoxSizer(wxHORIZONTAL);
    authRow->Add(windowsAuth, 0, wxRIGHT, 3 * gap);
    authRow->Add(sqlAuth, 0);
    auto* fields = new wxFlexGridSizer(4, gap, gap);
    fields->AddGrowableCol(1, 1);
    fields->AddGrowableCol(3, 1);
    auto label = [](wxWindow* parent, const char* text) { return new wxStaticText(parent, wxID_ANY, text); };
    fields->Add(label(databaseBox, "User Name:"), 0, wxALIGN_CENTER_VERTICAL);
    fields->Add(user, 1, wxEXPAND);
    fields->Add(label(databaseBox, "Password:"), 0, wxALIGN_CENTER_VERTICAL);
    fields->Add(password, 1, wxEXPAND);
    fields->Add(label(databaseBox, "Server Name:"), 0, wxALIGN_CENTER_VERTICAL);
    fields->Add(server_, 1, wxEXPAND);
    fields->Add(label(databaseBox, "Database Name:"), 0, wxALIGN_CENTER_VERTICAL);
    fields->Add(databaseName, 1, wxEXPAND);
    auto* databaseButtons = new wxBoxSizer(wxHORIZONTAL);
    databaseButtons->Add(scan, 0, wxRIGHT, gap);
    databaseButtons->Add(test, 0);
    database->Add(authRow, 0, wxALL, gap);
    database->Add(fields, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    database->Add(databaseButtons, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);
    database->Add(testLog_, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);

    // Target: a folder of scripts.
    auto* scriptTarget = new wxRadioButton(this, static_cast<int>(SaveOption::ScriptTarget), "Save as Sql Script:");
    remember(SaveOption::ScriptTarget, scriptTarget);
    auto* folder = new wxTextCtrl(this, static_cast<int>(SaveOption::Folder));
    remember(SaveOption::Folder, folder);
    auto* browse = button(this, SaveOption::BrowseFolder, "...", nullptr);
    auto* folderRow = new wxBoxSizer(wxHORIZONTAL);
    folderRow->Add(folder, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
    folderRow->Add(browse, 0);

    auto* constraintsBox = new wxStaticBoxSizer(wxVERTICAL, this, wxString());
    auto* constraints = new wxCheckBox(constraintsBox->GetStaticBox(), static_cast<int>(SaveOption::Constraints),
                                       "Save Table Constraints");
    remember(SaveOption::Constraints, constraints);
    constraintsBox->Add(constraints, 0, wxALL, gap);
    constraintsBox->Add(label(constraintsBox->GetStaticBox(),
                              "* By checking this option,there are chances that less data will be saved"),
                        0, wxLEFT | wxRIGHT | wxBOTTOM, gap);

    auto* ok = new wxButton(this, wxID_OK, "OK");
    auto* cancel = new wxButton(this, wxID_CANCEL, "Cancel");
    cancel->SetToolTip("Cancel");
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->AddStretchSpacer();
    buttons->Add(ok, 0, wxRIGHT, gap);
    buttons->Add(cancel, 0);

    auto* left = new wxBoxSizer(wxVERTICAL);
    left->Add(kinds, 0, wxEXPAND | wxBOTTOM, gap);
    left->Add(dates, 1, wxEXPAND | wxBOTTOM, gap);
    left->Add(constraintsBox, 0, wxEXPAND);
    auto* right = new wxBoxSizer(wxVERTICAL);
    right->Add(databaseTarget, 0, wxBOTTOM, gap / 2);
    right->Add(database, 1, wxEXPAND | wxBOTTOM, gap);
    right->Add(scriptTarget, 0, wxBOTTOM, gap / 2);
    right->Add(folderRow, 0, wxEXPAND | wxLEFT, 3 * gap);
    auto* columns = new wxBoxSizer(wxHORIZONTAL);
    columns->Add(left, 0, wxEXPAND | wxRIGHT, 2 * gap);
    columns->Add(right, 1, wxEXPAND);
    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(columns, 1, wxEXPAND | wxALL, 2 * gap);
    outer->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 2 * gap);
    SetSizerAndFit(outer);
    SetSize(wxSize(std::max(GetSize().x, FromDIP(980)), GetSize().y));
    CentreOnScreen();

    databaseTarget->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { logic_.OnDatabaseTarget(); });
    scriptTarget->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { logic_.OnScriptTarget(); });
    windowsAuth->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { logic_.OnWindowsAuthentication(); });
    sqlAuth->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { logic_.OnSqlAuthentication(); });
    bind(controls_[SaveOption::Add], [this] { logic_.OnAdd(); });
    bind(controls_[SaveOption::Remove], [this] { logic_.OnRemove(); });
    bind(scan, [this] { logic_.OnScan(); });
    bind(test, [this] { logic_.OnTest(); });
    bind(browse, [this] { logic_.OnBrowseFolder(); });
    bind(ok, [this] { logic_.OnOk(); });
    bind(cancel, [this] { logic_.OnCancel(); });
}

wxWindow* SaveoptionDlg::Control(SaveOption control) const {
    const auto it = controls_.find(control);
    return it == controls_.end() ? nullptr : it->second;
}

bool SaveoptionDlg::IsChecked(SaveOption control) const {
    wxWindow* window = Control(control);
    if (auto* box = dynamic_cast<wxCheckBox*>(window)) return box->GetValue();
    if (auto* radio = dynamic_cast<wxRadioButton*>(window)) return radio->GetValue();
    return false;
}

void SaveoptionDlg::SetChecked(SaveOption control, bool checked) {
    wxWindow* window = Control(control);
    if (auto* box = dynamic_cast<wxCheckBox*>(window)) box->SetValue(checked);
    // A radio button is unchecked by checking its partner in the group.
    if (auto* radio = dynamic_cast<wxRadioButton*>(window); radio && checked) radio->SetValue(true);
}

void SaveoptionDlg::Enable(SaveOption control, bool enable) {
    if (wxWindow* window = Control(control)) window->Enable(enable);
    if (control == SaveOption::From) fromTime_->Enable(enable);
    if (control == SaveOption::To) toTime_->Enable(enable);
}

std::wstring SaveoptionDlg::Text(SaveOption control) const {
    wxWindow* window = Control(control);
    if (auto* edit = dynamic_cast<wxTextCtrl*>(window)) return edit->GetValue().ToStdWstring();
    if (auto* combo = dynamic_cast<wxComboBox*>(window)) return combo->GetValue().ToStdWstring();
    return std::wstring();
}

void SaveoptionDlg::SetText(SaveOption control, const std::wstring& text) {
    wxWindow* window = Control(control);
    if (auto* edit = dynamic_cast<wxTextCtrl*>(window)) edit->ChangeValue(wxString(text));
    if (auto* combo = dynamic_cast<wxComboBox*>(window)) combo->SetValue(wxString(text));
}

COleDateTime SaveoptionDlg::PickerValue(SaveOption control) const {
    const bool from = control == SaveOption::From;
    const wxDateTime day = (from ? fromDate_ : toDate_)->GetValue();
    int hour = 0, minute = 0, second = 0;
    (from ? fromTime_ : toTime_)->GetTime(&hour, &minute, &second);
    return COleDateTime(day.GetYear(), static_cast<int>(day.GetMonth()) + 1, day.GetDay(), hour, minute, second);
}

void SaveoptionDlg::AddRangeRow(const std::wstring& from, const std::wstring& to) {
    const long row = ranges_->InsertItem(ranges_->GetItemCount(), wxString(from));
    ranges_->SetItem(row, 1, wxString(to));
}

int SaveoptionDlg::SelectedRangeRow() const {
    return static_cast<int>(ranges_->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED));
}

void SaveoptionDlg::DeleteRangeRow(int row) { ranges_->DeleteItem(row); }

void SaveoptionDlg::ClearTestLog() { ClearLogList(*testLog_, FromDIP(kTestLogWidth)); }

void SaveoptionDlg::AddTestLogLine(uint32_t row, const std::wstring& text) { InsertLogLine(*testLog_, row, text); }

void SaveoptionDlg::AddServerName(const std::wstring& name) {
    if (server_->FindString(wxString(name), true) == wxNOT_FOUND) server_->Append(wxString(name));
}

std::optional<std::wstring> SaveoptionDlg::ChooseFolder(const std::wstring& title) {
    if (chooseFolder_) return chooseFolder_(title);
    wxDirDialog dialog(this, wxString(title), wxString(), wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    return dialog.GetPath().ToStdWstring();
}

void SaveoptionDlg::EndDialog(bool ok) {
    if (IsModal())
        EndModal(ok ? wxID_OK : wxID_CANCEL);
    else
        SetReturnCode(ok ? wxID_OK : wxID_CANCEL);
}

}  // namespace kestrane
