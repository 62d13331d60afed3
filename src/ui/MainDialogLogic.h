#pragma once
// The main dialog's behaviour without its window: Stop, Close, Back, the Help menu, the
// close-data-file and reset-and-show-error routines, and the handlers of the progress protocol.
#include <string>
#include <vector>

#include "datafile/ColumnDef.h"

#include "platform/ProgressSink.h"
#include "platform/Prompter.h"
#include "platform/RunState.h"
#include "ui/AnalysisEngine.h"
#include "ui/AppActions.h"
#include "ui/MainDialogView.h"
#include "ui/UiDispatcher.h"

namespace kestrane {

class MainDialogLogic {
public:
    MainDialogLogic(RunState& state, Prompter& prompter, MainDialogView& view, AnalysisEngine& engine,
                    AppActions& actions)
        : state_(state), prompter_(prompter), view_(view), engine_(engine), actions_(actions) {}

    void OnStop();
    // True when the user said Yes: the activity log is closed and the engine freed; the caller ends the
    // dialog and quits the program with exit code 0.
    bool OnClose();
    // The data file is closed; the caller shows the start dialog and destroys this dialog.
    void OnBack();
    void OnHelpCommand(int commandId) { HandleHelpCommand(commandId, actions_); }

    void CloseDataFile();
    // The record grid's column titles for a table: "Row" (which image a row is), then every column but
    // those without a place in the stored row (ordinal -99), which only the legacy catalogue shows.
    static std::vector<std::wstring> RecordGridColumnTitles(const ColumnDefList& columns, bool legacyCatalog);
    void ResetAndShowError(const std::wstring& text);

    // Progress protocol handlers (user-interface thread).
    void OnProgressPosition(int position) { view_.SetProgressPosition(position); }
    void OnProgressRange(int upper) { view_.SetProgressRange(upper); }
    void OnStatusText(const std::string& text);
    void OnFatalText(const std::string& text);
    void OnErrorDescription(const std::string& text);

private:
    RunState& state_;
    Prompter& prompter_;
    MainDialogView& view_;
    AnalysisEngine& engine_;
    AppActions& actions_;
};

// The engine's progress sink for the main dialog: every call is handed to the user-interface thread and
// the sender waits until it has been handled.
class DialogProgressSink : public ProgressSink {
public:
    DialogProgressSink(UiDispatcher& ui, MainDialogLogic& logic) : ui_(ui), logic_(logic) {}
    void SetPosition(int position) override;
    void SetRange(int range) override;
    void StatusText(const std::string& text) override;
    void FatalText(const std::string& text) override;
    void ErrorDescription(const std::string& text) override;

private:
    UiDispatcher& ui_;
    MainDialogLogic& logic_;
};

}  // namespace kestrane
