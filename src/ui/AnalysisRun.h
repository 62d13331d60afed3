#pragma once
// One analysis run (the parse worker): open the data file and its catalogue, show version and collation,
// refuse databases older than SQL Server 2005, scan the log, and build the table tree with the number of
// logged operations per table. Runs on a worker thread; every control update goes through the dispatcher.
#include <functional>
#include <string>

#include "platform/Prompter.h"
#include "platform/RunState.h"
#include "ui/AnalysisEngine.h"
#include "ui/MainDialogLogic.h"
#include "ui/MainDialogView.h"
#include "ui/UiDispatcher.h"

namespace kestrane {

class AnalysisRun {
public:
    AnalysisRun(RunState& state, AnalysisEngine& engine, MainDialogView& view, MainDialogLogic& logic,
                UiDispatcher& ui, Prompter& prompter)
        : state_(state), engine_(engine), view_(view), logic_(logic), ui_(ui), prompter_(prompter) {}

    // The pause before the tree is repainted at the end of a run (2 seconds); tests shorten it, the
    // dialog makes it end early when the window goes away.
    std::function<void(int milliseconds)> sleep;

    // The worker's body; result 0 on every path.
    int ScanThreadProc();

    // "\" doubled, as the activity log records the chosen path.
    static std::wstring DoubleBackslashes(const std::wstring& path);

private:
    void Exit();

    RunState& state_;
    AnalysisEngine& engine_;
    MainDialogView& view_;
    MainDialogLogic& logic_;
    UiDispatcher& ui_;
    Prompter& prompter_;
};

}  // namespace kestrane
