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

// What a run says when it cannot give the user what was asked, or gives less.
inline constexpr const wchar_t* kTextRunCompleted = L"Scanning process completed.........";
inline constexpr const wchar_t* kTextRunStopped =
    L"Scanning process stopped by the user: the tables and operations shown are partial.........";
inline constexpr const wchar_t* kTextLogEmpty = L"The LDF file is empty (0 bytes): it holds no log records to list.";
inline constexpr const wchar_t* kTextLogWithoutVlf =
    L"No virtual log file was found in the LDF file: it is not a transaction log, or it is damaged.";
inline constexpr const wchar_t* kTextNoUserTableOperation =
    L"The LDF file holds no insert, delete or update of a user table of this database.";
inline constexpr const wchar_t* kTextOutOfMemory =
    L"There is not enough memory to read these files, and the scan was ended. The MDF file may be damaged "
    L"(its pages repeat or its catalogue is far too large); close other programs or check the file.";

// "The MDF file is shorter than its pages say..." for a data file of `pages` pages whose pages and
// catalogue name page `named`.
std::wstring DataFileCutText(uint64_t pages, uint64_t named);
// "The MDF file's catalogue names secondary data files..." naming those of `data` that were not found;
// empty when none is missing.
std::wstring MissingSecondaryFilesText(const DataFileFacts& data);
// The question asked when the log's VLF sequences cannot hold the data file's last change.
std::wstring LogMismatchQuestion(const DataFileFacts& data, const LogFileFacts& log);
// True when the log is known not to hold the data file's last change.
bool LogMissesLastChange(const DataFileFacts& data, const LogFileFacts& log);

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
    // The run proper; false where it ended early (the caller restores the buttons either way).
    bool Run();
    // Restores the buttons and ends the stop request, which never outlives its run.
    void Exit();
    void Status(const std::wstring& text);
    // A warning the run goes on after: a message box and the same text in the activity log.
    void Warn(const std::wstring& text);
    // After a stop request: the status line says that the result is partial.
    bool EndIfStopped();

    RunState& state_;
    AnalysisEngine& engine_;
    MainDialogView& view_;
    MainDialogLogic& logic_;
    UiDispatcher& ui_;
    Prompter& prompter_;
};

}  // namespace kestrane
