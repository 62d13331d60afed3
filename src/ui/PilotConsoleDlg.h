#pragma once
// The main dialog of one analysis: the table tree, the operations list with its paging buttons, the
// record grid, the status line, version and collation, progress, Stop, Back, Save, Close and Help.
// Its behaviour lives in MainDialogLogic and AnalysisRun; this class binds them to the controls.
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/splitter.h>
#include <wx/textctrl.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "logreader/LogByteSource.h"
#include "logreader/OperationDetail.h"
#include "logreader/OperationPager.h"
#include "ui/AnalysisRun.h"
#include "ui/EngineSession.h"
#include "ui/MainDialogLogic.h"
#include "ui/MainDialogView.h"
#include "ui/SaveCommand.h"
#include "ui/SaveRuns.h"
#include "ui/WxDispatcher.h"
#include "ui/XHtmlTree.h"

namespace kestrane {

class CPilot_ConsoleApp;
class Migrationdlg;
class Opendlg;
class SaveoptionDlg;

class CPilot_ConsoleDlg : public wxDialog, public MainDialogView, private SaveCommandHost {
public:
    CPilot_ConsoleDlg(Opendlg* owner, CPilot_ConsoleApp& app);
    ~CPilot_ConsoleDlg() override;

    // Ends the workers' access to this window; called before it is destroyed.
    void Shutdown();

    MainDialogLogic& Logic() { return logic_; }
    EngineSession& Engine() { return engine_; }
    CXHtmlTree& Tree() { return *tree_; }
    wxListCtrl& OperationsList() { return *operations_; }
    wxListCtrl& RecordGrid() { return *grid_; }
    wxSplitterWindow& Panes() { return *panes_; }  // the tree and the right-hand panes
    wxTextCtrl& StatusBox() { return *status_; }
    bool AnalysisRunning() const { return running_; }
    bool ListingRunning() const;

    // Commands (also what the e2e test presses).
    void OnStopButton() { logic_.OnStop(); }
    void OnBackButton();
    void OnCloseButton();
    void OnSaveButton();
    // The save-options dialog while Save runs it, and the progress window once a save has started.
    SaveoptionDlg* SaveOptions() const { return saveOptions_; }
    Migrationdlg* ProgressWindow() const { return progressWindow_; }
    void OnTreeDoubleClick();
    void OnOperationClick(long row);
    void OnNextPage();
    void OnPreviousPage();

    // MainDialogView
    void SetStatusText(const std::wstring& text) override;
    std::wstring GetStatusText() const override;
    void SetProgressPosition(int position) override;
    void SetProgressRange(int upper) override;
    void SetVersionText(const std::wstring& text) override;
    void SetCollationText(const std::wstring& text) override;
    void SetRunning(bool running) override;
    bool IsRunning() const override { return running_; }
    void ClearRecordGrid() override;
    void TreeDeleteAllItems() override { tree_->DeleteAllTreeItems(); }
    TreeItem TreeInsertItem(const std::wstring& text, int image, int selectedImage, TreeItem parent) override {
        return tree_->InsertItem(text, image, selectedImage, parent);
    }
    void TreeSetItemData(TreeItem item, uint32_t data) override { tree_->SetItemData32(item, data); }
    void TreeSortChildren(TreeItem parent) override { tree_->SortChildrenOf(parent); }
    void TreeInvalidate() override { tree_->Refresh(true); }
    int TreeGetCheckedCount() const override { return tree_->GetCheckedCount(); }

private:
    // The operations list, status line and record grid as the pager and the rebuild reach them; calls
    // from the listing worker go to the user-interface thread.
    struct ListSink : OperationListSink {
        CPilot_ConsoleDlg& dlg;
        explicit ListSink(CPilot_ConsoleDlg& d) : dlg(d) {}
        void DeleteAllRows() override;
        void AppendRow(const OperationListRow& row) override;
        void EnableNext(bool enable) override;
        void EnablePrevious(bool enable) override;
    };
    struct StatusSink : OperationStatusSink {
        CPilot_ConsoleDlg& dlg;
        explicit StatusSink(CPilot_ConsoleDlg& d) : dlg(d) {}
        void SetStatusLine(const std::wstring& text) override;
        void ClearRecordGrid() override;
    };
    struct GridSink : RecordGridSink {
        CPilot_ConsoleDlg& dlg;
        explicit GridSink(CPilot_ConsoleDlg& d) : dlg(d) {}
        void SetColumns(const ColumnDefList& columns, uint32_t firstColumnIndex) override;
        void InsertRowAtTop(const std::vector<std::wstring>& cells) override;
    };

    // SaveCommandHost
    int CheckedItemCount() const override { return tree_->GetCheckedCount(); }
    bool RunSaveOptions() override;
    bool CreateProgressWindow() override;
    void ShowProgressWindow() override;
    void StartSaveWorker(bool asScript) override;

    void BuildControls();
    // While a worker runs, Back, Save and Close are disabled: they would touch what the worker reads.
    bool WorkerBusy() const { return running_ || listing_; }
    void EnableExits(bool enable);
    void StartAnalysis();
    void SleepUnlessClosing(int milliseconds);

    Opendlg* owner_;
    CPilot_ConsoleApp& app_;
    RunState& state_;
    WxDispatcher ui_;
    EngineSession engine_;
    MainDialogLogic logic_;
    DialogProgressSink sink_;
    AnalysisRun run_;
    ListSink listSink_{*this};
    StatusSink statusSink_{*this};
    GridSink gridSink_{*this};
    OperationPager pager_;
    TableSchemaCache schemas_;  // of the tables clicked in the current listing
    std::unique_ptr<FileLogSource> logSource_;
    std::unique_ptr<OperationDetailView> detail_;  // the current listing's clicks (reads logSource_)
    std::atomic<bool> listing_{false};
    std::thread worker_;
    std::thread listWorker_;
    std::unique_ptr<SaveRuns> saveRuns_;
    std::thread saveWorker_;
    SaveoptionDlg* saveOptions_ = nullptr;
    Migrationdlg* progressWindow_ = nullptr;
    std::mutex closingMutex_;
    std::condition_variable closingSignal_;
    bool closing_ = false;
    bool running_ = false;
    int gridColumns_ = 0;

    wxSplitterWindow* panes_ = nullptr;
    CXHtmlTree* tree_ = nullptr;
    wxListCtrl* operations_ = nullptr;
    wxListCtrl* grid_ = nullptr;
    wxTextCtrl* status_ = nullptr;
    wxGauge* progress_ = nullptr;
    wxButton* stop_ = nullptr;
    wxButton* next_ = nullptr;
    wxButton* previous_ = nullptr;
    wxTextCtrl* version_ = nullptr;
    wxTextCtrl* collation_ = nullptr;
    wxButton* back_ = nullptr;
    wxButton* save_ = nullptr;
    wxButton* close_ = nullptr;
};

}  // namespace kestrane
