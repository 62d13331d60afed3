#include "ui/PilotConsoleDlg.h"

#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <new>

#include "datafile/MetadataCatalog.h"
#include "platform/LineBreaks.h"
#include "ui/AppArt.h"
#include "ui/AppTexts.h"
#include "ui/DialogBehaviour.h"
#include "ui/EngineSaveRuns.h"
#include "ui/HelpMenuButton.h"
#include "ui/ListColumns.h"
#include "ui/Migrationdlg.h"
#include "ui/Opendlg.h"
#include "ui/PilotConsoleApp.h"
#include "ui/SaveoptionDlg.h"

namespace kestrane {

namespace {
enum ControlId : int {
    kIdTree = 1009, kIdOperations = 1003, kIdGrid = 1059, kIdStatus = 1007, kIdProgress = 1010,
    kIdStop = 1017, kIdNext = 1016, kIdPrevious = 1033, kIdVersion = 1038, kIdCollation = 1045,
    kIdHelp = 1048, kIdBack = 1070, kIdSave = 1034, kIdClose = 1,
};
}  // namespace

CPilot_ConsoleDlg::CPilot_ConsoleDlg(Opendlg* owner, CPilot_ConsoleApp& app)
    : wxDialog(owner, wxID_ANY, wxString(kAppTitle), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxRESIZE_BORDER | wxMINIMIZE_BOX | wxMAXIMIZE_BOX),
      owner_(owner),
      app_(app),
      state_(app.State()),
      engine_(app.State()),
      logic_(app.State(), app.Prompts(), *this, engine_, app),
      sink_(ui_, logic_),
      run_(app.State(), engine_, *this, logic_, ui_, app.Prompts()),
      pager_(engine_.Operations(), listSink_, statusSink_, app.Prompts()) {
    SetIcon(MakeAppIcon());
    BuildControls();
    IgnoreEnterAndEscape(this);
    DragMovesDialog(this, this);
    // The window manager's close box does nothing here: Close and Back are the ways out.
    Bind(wxEVT_CLOSE_WINDOW, [](wxCloseEvent& event) {
        if (event.CanVeto()) event.Veto();
    });
    engine_.SetProgressSink(&sink_);
    run_.sleep = [this](int ms) { SleepUnlessClosing(ms); };
    // Collation auto-detect on (the hidden radio buttons' default).
    state_.collationAutoDetect = 1;
    StartAnalysis();
}

CPilot_ConsoleDlg::~CPilot_ConsoleDlg() { Shutdown(); }

void CPilot_ConsoleDlg::BuildControls() {
    const int gap = FromDIP(6);
    // A sash between the tree and the right-hand panes: a long table name or path can be read whole
    // by widening the tree.
    panes_ = new wxSplitterWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSP_LIVE_UPDATE | wxSP_3D);
    auto* rightPane = new wxPanel(panes_);
    tree_ = new CXHtmlTree(panes_, kIdTree, app_.Theme());
    tree_->Initialize(true, true);
    tree_->SetSmartCheckBoxes(true);
    tree_->SetSelectFollowsCheck(true);
    tree_->SetReadOnly(false);
    tree_->AssignImageList(MakeTreeImages());
    tree_->onDoubleClick = [this] { OnTreeDoubleClick(); };

    operations_ = new wxListCtrl(rightPane, kIdOperations, wxDefaultPosition, wxDefaultSize,
                                 wxLC_REPORT | wxLC_SINGLE_SEL | wxLC_HRULES | wxLC_VRULES | wxBORDER_SUNKEN);
    for (const char* title : {"Transaction", "Login Name", "Time", "Table Name", "Transaction Name"})
        operations_->AppendColumn(title, wxLIST_FORMAT_LEFT, 200);
    wxFont bold(wxFontInfo(11).Family(wxFONTFAMILY_SWISS).FaceName("Arial").Bold());
    operations_->SetHeaderAttr(wxItemAttr(wxNullColour, wxNullColour, bold));
    operations_->AssignImageList(MakeOperationImages(), wxIMAGE_LIST_SMALL);
    // A click on a row shows its values and statement.
    operations_->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent& e) { OnOperationClick(e.GetIndex()); });

    grid_ = new wxListCtrl(rightPane, kIdGrid, wxDefaultPosition, wxDefaultSize,
                           wxLC_REPORT | wxLC_SINGLE_SEL | wxLC_HRULES | wxLC_VRULES | wxBORDER_SUNKEN);
    grid_->AppendColumn(wxString(), wxLIST_FORMAT_LEFT, 0);

    status_ = new wxTextCtrl(rightPane, kIdStatus, wxString(), wxDefaultPosition, wxDefaultSize,
                             wxTE_MULTILINE | wxTE_READONLY | wxTE_WORDWRAP | wxVSCROLL);
    progress_ = new wxGauge(this, kIdProgress, 100, wxDefaultPosition, wxSize(-1, FromDIP(18)));
    stop_ = new wxButton(this, kIdStop, "Stop");
    stop_->SetToolTip("Stop the running process");
    next_ = new wxButton(rightPane, kIdNext, "Next>>");
    previous_ = new wxButton(rightPane, kIdPrevious, "<<Previous");
    previous_->Disable();
    next_->Disable();  // until a listing has a page after the first
    version_ = new wxTextCtrl(this, kIdVersion, wxString(), wxDefaultPosition, wxSize(FromDIP(220), -1), wxTE_READONLY);
    collation_ = new wxTextCtrl(this, kIdCollation, wxString(), wxDefaultPosition, wxSize(FromDIP(260), -1),
                                wxTE_READONLY);
    auto* help = new HelpMenuButton(this, kIdHelp, [this](int command) { logic_.OnHelpCommand(command); });
    back_ = new wxButton(this, kIdBack, "Back");
    back_->SetToolTip("Back");
    save_ = new wxButton(this, kIdSave, "Save");
    save_->SetToolTip("Save");
    close_ = new wxButton(this, kIdClose, "Close");
    close_->SetToolTip(wxString::FromUTF8("\xC3\x87lose the software"));
    // The template starts with Back, Save and Close disabled while the analysis runs.
    back_->Disable();
    save_->Disable();
    close_->Disable();

    stop_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnStopButton(); });
    next_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnNextPage(); });
    previous_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnPreviousPage(); });
    back_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBackButton(); });
    save_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnSaveButton(); });
    close_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCloseButton(); });

    auto* paging = new wxBoxSizer(wxHORIZONTAL);
    paging->AddStretchSpacer();
    paging->Add(previous_, 0, wxRIGHT, gap);
    paging->Add(next_, 0);

    auto* right = new wxBoxSizer(wxVERTICAL);
    right->Add(operations_, 3, wxEXPAND);
    right->Add(paging, 0, wxEXPAND | wxTOP | wxBOTTOM, gap);
    right->Add(grid_, 2, wxEXPAND | wxBOTTOM, gap);
    right->Add(status_, 1, wxEXPAND);

    KeepHeaderAligned(*operations_);
    KeepHeaderAligned(*grid_);
    // Fixed least sizes: the tree's best size follows its widest label (the chosen path), which
    // would otherwise push the right-hand panes out of place.
    tree_->SetMinSize(FromDIP(wxSize(180, 120)));
    operations_->SetMinSize(FromDIP(wxSize(420, 120)));
    grid_->SetMinSize(FromDIP(wxSize(420, 80)));
    status_->SetMinSize(FromDIP(wxSize(420, 48)));

    rightPane->SetSizer(right);
    panes_->SetMinimumPaneSize(FromDIP(120));
    panes_->SetSashGravity(0.25);  // as the panes shared the width before: a quarter to the tree
    panes_->SplitVertically(tree_, rightPane);
    DragMovesDialog(this, rightPane);

    auto* details = new wxStaticBoxSizer(wxHORIZONTAL, this, "File details:");
    auto label = [this](const char* text) { return new wxStaticText(this, wxID_ANY, text); };
    details->Add(label("Sql File Version:"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
    details->Add(version_, 0, wxRIGHT, 2 * gap);
    details->Add(label("Sql File Collation:"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
    details->Add(collation_, 0);

    auto* progressRow = new wxBoxSizer(wxHORIZONTAL);
    progressRow->Add(progress_, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
    progressRow->Add(stop_, 0);

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(help, 0);
    buttons->AddStretchSpacer();
    buttons->Add(back_, 0, wxRIGHT, gap);
    buttons->Add(save_, 0, wxRIGHT, gap);
    buttons->Add(close_, 0);

    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(panes_, 1, wxEXPAND | wxALL, gap);
    outer->Add(details, 0, wxEXPAND | wxLEFT | wxRIGHT, gap);
    outer->Add(progressRow, 0, wxEXPAND | wxALL, gap);
    outer->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    SetSizer(outer);
    SetSize(FromDIP(wxSize(1100, 720)));
    SetMinSize(FromDIP(wxSize(800, 520)));
    Layout();
    panes_->SetSashPosition(panes_->GetClientSize().x / 4);
    CentreOnScreen();
}

void CPilot_ConsoleDlg::StartAnalysis() {
    detail_.reset();
    logSource_.reset();
    running_ = true;
    SetRunning(true);
    worker_ = std::thread([this] { run_.ScanThreadProc(); });
}

void CPilot_ConsoleDlg::SleepUnlessClosing(int milliseconds) {
    std::unique_lock<std::mutex> lock(closingMutex_);
    closingSignal_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return closing_; });
}

void CPilot_ConsoleDlg::Shutdown() {
    ui_.Close();
    {
        std::lock_guard<std::mutex> lock(closingMutex_);
        closing_ = true;
    }
    closingSignal_.notify_all();
    if (progressWindow_) progressWindow_->CloseDispatcher();
    if (saveWorker_.joinable()) {
        if (progressWindow_ && progressWindow_->Logic().Saving()) state_.stopFlag = 1;  // ending under a save
        saveWorker_.join();
    }
    if (worker_.joinable()) worker_.join();
    if (listWorker_.joinable()) listWorker_.join();
}

void CPilot_ConsoleDlg::OnSaveButton() {
    if (WorkerBusy() || progressWindow_) return;
    RunSaveCommand(state_, app_.Prompts(), *this);
}

bool CPilot_ConsoleDlg::RunSaveOptions() {
    SaveoptionDlg options(this, state_, app_.Prompts(), app_.SaveOptionsSettings(), app_.FolderChooserHook());
    saveOptions_ = &options;
    const int result = options.ShowModal();
    saveOptions_ = nullptr;
    return result == wxID_OK;
}

bool CPilot_ConsoleDlg::CreateProgressWindow() {
    progressWindow_ = new Migrationdlg(
        this, state_, app_.Prompts(), app_,
        [this](const std::wstring& text) { ui_.RunSync([&] { SetStatusText(text); }); },
        [this] { app_.Quit(0); });
    return true;
}

void CPilot_ConsoleDlg::ShowProgressWindow() {
    Hide();
    progressWindow_->Show();
}

void CPilot_ConsoleDlg::StartSaveWorker(bool asScript) {
    std::vector<TickedTreeItem> items;
    const TreeItem root = tree_->Model().GetRootItem();
    for (TreeItem item = tree_->GetFirstCheckedItem(); item != kNoTreeItem; item = tree_->GetNextCheckedItem(item))
        if (item != root) items.push_back({tree_->GetItemData32(item), tree_->GetItemText(item)});
    if (!saveRuns_) saveRuns_ = MakeEngineSaveRuns(state_, engine_, app_.Prompts(), sink_);
    progressWindow_->BeginSave();
    saveWorker_ = std::thread([this, asScript, items = std::move(items)] {
        RunSaveWorker(*saveRuns_, state_, asScript, items, *progressWindow_);
    });
}

bool CPilot_ConsoleDlg::ListingRunning() const { return listing_; }

void CPilot_ConsoleDlg::OnBackButton() {
    if (WorkerBusy()) return;
    logic_.OnBack();
    owner_->OnMainDialogBack();  // shows the start dialog and destroys this one
}

void CPilot_ConsoleDlg::OnCloseButton() {
    if (WorkerBusy() || !logic_.OnClose()) return;
    app_.Quit(0);
}

void CPilot_ConsoleDlg::OnTreeDoubleClick() {
    // One listing at a time, and none while the analysis still fills the entries.
    if (WorkerBusy()) return;
    if (listWorker_.joinable()) listWorker_.join();
    const TreeItem selected = tree_->GetSelectedTreeItem();
    std::optional<uint32_t> node;
    if (selected != kNoTreeItem && selected != tree_->Model().GetRootItem()) node = tree_->GetItemData32(selected);
    const bool databaseOpen = engine_.Holder().DataFile() != nullptr;
    // Back and Close would free the entries that the listing reads; Save waits for the list as well.
    listing_ = true;
    detail_.reset();
    schemas_.Clear();
    tree_->Disable();
    EnableExits(false);
    listWorker_ = std::thread([this, node, databaseOpen] {
        try {
            pager_.ListFirstPage(databaseOpen, node);
        } catch (const std::bad_alloc&) {
            app_.Prompts().ShowMessage(kTextOutOfMemory, MessageIcon::Error);
        }
        ui_.RunSync([this] {
            listing_ = false;
            FitColumnsToContent(*operations_);
            tree_->Enable();
            EnableExits(true);
        });
        listing_ = false;  // also when the window is going away and the call above was dropped
    });
}

void CPilot_ConsoleDlg::OnOperationClick(long row) {
    if (row < 0 || row >= operations_->GetItemCount() || listing_) return;
    CMetadataCatalog* catalog = engine_.Holder().Catalog();
    if (!catalog || !engine_.LogFile().isOpen()) return;
    if (!logSource_) logSource_ = std::make_unique<FileLogSource>(engine_.LogFile());
    // One view for the listing's clicks: its row histories are read once, not on every click.
    if (!detail_)
        detail_ = std::make_unique<OperationDetailView>(engine_.Operations(), engine_.Holder(), *catalog, state_,
                                                        *logSource_, statusSink_, gridSink_, &schemas_);
    try {
        detail_->OnOperationClicked(static_cast<uint64_t>(operations_->GetItemData(row)));
    } catch (const std::bad_alloc&) {
        // A damaged value can ask for more than there is: the click fails, the program stays, and the
        // next click starts on a new view.
        detail_.reset();
        ClearRecordGrid();
        app_.Prompts().ShowMessage(kTextOutOfMemory, MessageIcon::Error);
    }
}

void CPilot_ConsoleDlg::OnNextPage() {
    if (listing_) return;
    pager_.OnNextPage();
    FitColumnsToContent(*operations_);
}

void CPilot_ConsoleDlg::OnPreviousPage() {
    if (listing_) return;
    pager_.OnPreviousPage();
    FitColumnsToContent(*operations_);
}

void CPilot_ConsoleDlg::ListSink::DeleteAllRows() {
    dlg.ui_.RunSync([&] { dlg.operations_->DeleteAllItems(); });
}

void CPilot_ConsoleDlg::ListSink::AppendRow(const OperationListRow& row) {
    dlg.ui_.RunSync([&] {
        wxListCtrl& list = *dlg.operations_;
        // Names come from the files and may hold line breaks, which the list would draw over other rows.
        const auto cell = [](const std::wstring& text) { return wxString(OneLineText(text, kLineBreakMark)); };
        const long at = list.InsertItem(list.GetItemCount(), wxString(row.transaction), row.image);
        list.SetItem(at, 1, cell(row.loginName));
        list.SetItem(at, 2, wxString(row.time));
        list.SetItem(at, 3, cell(row.tableName));
        list.SetItem(at, 4, cell(row.transactionName));
        list.SetItemPtrData(at, static_cast<wxUIntPtr>(row.entryIndex));
    });
}

void CPilot_ConsoleDlg::ListSink::EnableNext(bool enable) {
    dlg.ui_.RunSync([&] { dlg.next_->Enable(enable); });
}

void CPilot_ConsoleDlg::ListSink::EnablePrevious(bool enable) {
    dlg.ui_.RunSync([&] { dlg.previous_->Enable(enable); });
}

void CPilot_ConsoleDlg::StatusSink::SetStatusLine(const std::wstring& text) {
    dlg.ui_.RunSync([&] { dlg.SetStatusText(text); });
}

void CPilot_ConsoleDlg::StatusSink::ClearRecordGrid() {
    dlg.ui_.RunSync([&] { dlg.ClearRecordGrid(); });
}

void CPilot_ConsoleDlg::GridSink::SetColumns(const ColumnDefList& columns, uint32_t) {
    wxListCtrl& grid = *dlg.grid_;
    grid.DeleteAllItems();
    for (const std::wstring& title : MainDialogLogic::RecordGridColumnTitles(columns, dlg.state_.legacyCatalog != 0))
        grid.InsertColumn(dlg.gridColumns_++, wxString(title), wxLIST_FORMAT_LEFT, 200);
}

void CPilot_ConsoleDlg::GridSink::InsertRowAtTop(const std::vector<std::wstring>& cells) {
    wxListCtrl& grid = *dlg.grid_;
    if (cells.empty()) return;
    const long at = grid.InsertItem(0, wxString(cells[0]));
    for (size_t i = 1; i < cells.size() && static_cast<int>(i) < dlg.gridColumns_; ++i)
        grid.SetItem(at, static_cast<long>(i), wxString(cells[i]));
    FitColumnsToContent(grid);
}

void CPilot_ConsoleDlg::SetStatusText(const std::wstring& text) { status_->ChangeValue(wxString(text)); }

std::wstring CPilot_ConsoleDlg::GetStatusText() const { return status_->GetValue().ToStdWstring(); }

void CPilot_ConsoleDlg::SetProgressPosition(int position) {
    if (position > progress_->GetRange()) position = progress_->GetRange();
    progress_->SetValue(position < 0 ? 0 : position);
}

void CPilot_ConsoleDlg::SetProgressRange(int upper) {
    progress_->SetValue(0);
    progress_->SetRange(upper > 0 ? upper : 1);
}

void CPilot_ConsoleDlg::SetVersionText(const std::wstring& text) { version_->ChangeValue(wxString(text)); }

void CPilot_ConsoleDlg::SetCollationText(const std::wstring& text) { collation_->ChangeValue(wxString(text)); }

void CPilot_ConsoleDlg::EnableExits(bool enable) {
    back_->Enable(enable);
    save_->Enable(enable);
    close_->Enable(enable);
}

void CPilot_ConsoleDlg::SetRunning(bool running) {
    running_ = running;
    EnableExits(!running);
    progress_->Show(running);
    stop_->Show(running);
    Layout();
}

void CPilot_ConsoleDlg::ClearRecordGrid() {
    if (gridColumns_ != 0) {
        grid_->DeleteAllItems();
        for (int i = 0; i < gridColumns_; ++i) grid_->DeleteColumn(0);
        gridColumns_ = 0;
    }
    status_->ChangeValue(wxString());
}

}  // namespace kestrane
