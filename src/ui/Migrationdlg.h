#pragma once
// The save-progress window: the save's log list ("DATABASE LOG"), its progress bar and Stop, and Close,
// which the end of the save enables and which ends the program. Its behaviour is ProgressWindowLogic;
// the save worker reaches its controls through SaveProgressView, handed to the user-interface thread.
#include <wx/dialog.h>

#include <functional>

#include "export/SaveProgressView.h"
#include "ui/ProgressWindowLogic.h"
#include "ui/WxDispatcher.h"

class wxButton;
class wxGauge;
class wxListCtrl;

namespace kestrane {

class Migrationdlg : public wxDialog, public SaveProgressView {
public:
    // `showStatement` is the main dialog's statement box; `quit` ends the program with exit code 0.
    Migrationdlg(wxWindow* owner, RunState& state, Prompter& prompter, AppActions& actions,
                 std::function<void(const std::wstring&)> showStatement, std::function<void()> quit);
    ~Migrationdlg() override;

    ProgressWindowLogic& Logic() { return logic_; }
    // The save worker starts; Close stays disabled until it ends.
    void BeginSave() { logic_.SetSaving(true); }
    // Drops what the worker still has queued for the window, and releases it.
    void CloseDispatcher() { ui_.Close(); }

    void OnStopButton() { logic_.OnStop(); }
    void OnCloseButton();
    wxListCtrl& LogList() { return *log_; }
    bool CloseEnabled() const;
    bool StopShown() const;

    // SaveProgressView (any thread)
    void AddLine(uint32_t row, const std::wstring& text) override;
    void SetProgressRange(uint64_t upper) override;
    void SetProgressPosition(uint64_t position) override;
    void ShowStatement(const std::wstring& text) override;
    void SetFinished() override;

private:
    void BuildControls();

    WxDispatcher ui_;
    ProgressWindowLogic logic_;
    std::function<void(const std::wstring&)> showStatement_;
    std::function<void()> quit_;
    uint64_t upper_ = 0;
    wxListCtrl* log_ = nullptr;
    wxGauge* progress_ = nullptr;
    wxButton* stop_ = nullptr;
    wxButton* close_ = nullptr;
};

}  // namespace kestrane
