#include "ui/AnalysisRun.h"

#include <chrono>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "ui/ActivityLog.h"

namespace kestrane {

std::wstring DataFileCutText(uint64_t pages, uint64_t named) {
    return L"The MDF file is shorter than its pages say: it holds " + std::to_wstring(pages) +
           L" pages, but its pages refer to page " + std::to_wstring(named) +
           L". The file may have been cut off: tables and rows on the missing pages cannot be read.";
}

std::wstring MissingSecondaryFilesText(const DataFileFacts& data) {
    if (data.missingSecondaryFiles.empty()) return {};
    auto list = [](const std::vector<std::wstring>& names) {
        std::wstring text;
        for (const std::wstring& name : names) text += (text.empty() ? L"" : L", ") + name;
        return text;
    };
    return L"The MDF file's catalogue names " + std::to_wstring(data.secondaryFiles.size()) +
           L" secondary data file(s): " + list(data.secondaryFiles) + L". Not found beside the MDF file (in " +
           data.folder + L"): " + list(data.missingSecondaryFiles) +
           L". Tables and rows stored on their pages cannot be read; an operation on such a row says so in "
           L"place of a statement. Put the missing files beside the MDF file and open it again to read them.";
}

bool LogMissesLastChange(const DataFileFacts& data, const LogFileFacts& log) {
    if (data.lastChangeVlf == 0 || log.vlfs == 0) return false;
    return data.lastChangeVlf < log.firstVlfSequence || data.lastChangeVlf > log.lastVlfSequence;
}

std::wstring LogMismatchQuestion(const DataFileFacts& data, const LogFileFacts& log) {
    const std::wstring range = log.firstVlfSequence == log.lastVlfSequence
                                   ? L"log sequence " + std::to_wstring(log.firstVlfSequence)
                                   : L"log sequences " + std::to_wstring(log.firstVlfSequence) + L" to " +
                                         std::to_wstring(log.lastVlfSequence);
    return L"The LDF file does not seem to belong to this MDF file: the data file was last changed at log "
           L"sequence " + std::to_wstring(data.lastChangeVlf) + L" (LSN " + std::to_wstring(data.lastChangeVlf) +
           L":" + std::to_wstring(data.lastChangeBlock) + L":" + std::to_wstring(data.lastChangeSlot) +
           L"), but the LDF file holds " + range +
           L" only. The operations listed may belong to another database.\n\nDo you want to continue?";
}

std::wstring AnalysisRun::DoubleBackslashes(const std::wstring& path) {
    std::wstring out;
    out.reserve(path.size());
    for (wchar_t c : path) {
        out += c;
        if (c == L'\\') out += L'\\';
    }
    return out;
}

void AnalysisRun::Exit() {
    // On the user-interface thread, where Stop asks whether the run is still going: a Yes that comes
    // after this finds the run ended and sets nothing.
    ui_.RunSync([&] {
        view_.SetRunning(false);
        state_.stopFlag = 0;
    });
}

void AnalysisRun::Status(const std::wstring& text) {
    ui_.RunSync([&] { view_.SetStatusText(text); });
}

void AnalysisRun::Warn(const std::wstring& text) {
    AppendActivityLog(state_, text + L"\r\n");
    prompter_.ShowMessage(text, MessageIcon::Warning);
}

bool AnalysisRun::EndIfStopped() {
    if (!state_.stopRequested()) return false;
    Status(kTextRunStopped);
    return true;
}

int AnalysisRun::ScanThreadProc() {
    state_.stopFlag = 0;  // a request left from before this run is not for it
    bool completed = false;
    try {
        completed = Run();
    } catch (const std::bad_alloc&) {
        // Whatever was read is dropped, which gives the memory back for the message.
        ui_.RunSync([&] {
            view_.TreeDeleteAllItems();
            logic_.ResetAndShowError(kTextOutOfMemory);
        });
    }
    Exit();
    if (!completed) return 0;
    if (sleep)
        sleep(2000);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    ui_.RunSync([&] { view_.TreeInvalidate(); });
    return 0;
}

bool AnalysisRun::Run() {
    // Nothing of the database opened before carries over (its collation, code page, version).
    state_.ResetDatabaseFields();
    ui_.RunSync([&] { logic_.CloseDataFile(); });

    const std::wstring chosen = state_.dataFilePath;
    if (!chosen.empty())
        AppendActivityLog(state_, L"Browse File Path:\t" + DoubleBackslashes(chosen) + L"\r\n");

    // The hidden "Advance Search" box is never ticked; a snapshot run carries its own choice.
    const bool advanceSearch = state_.snapshotMode != 0 && state_.snapshotAdvanceSearch == 1;
    // The path is opened as chosen: on this system a doubled backslash would name another file.
    DialogProgressSink sink(ui_, logic_);
    const bool opened = engine_.Open(chosen, advanceSearch, sink);
    if (EndIfStopped() || !opened) return false;
    if (engine_.HasCatalog() && !engine_.CatalogHasObjects()) {
        ui_.RunSync([&] {
            view_.TreeDeleteAllItems();
            logic_.ResetAndShowError(L"Whether it is not valid mdf file or highly corrupted");
        });
        return false;
    }
    if (!engine_.HasCatalog()) return false;

    if (state_.serverVersionText.empty()) state_.serverVersionText = L"Unknown SQL Version";
    const std::wstring version = state_.serverVersionText;
    ui_.RunSync([&] { view_.SetVersionText(version); });
    if (version == L" SQL Server 2000" || version == L" SQL Server 7.0" || version == L" SQL Server 6.5") {
        prompter_.ShowMessage(L"Software does not support version below sql server 2005", MessageIcon::Information);
        Status(kTextRunCompleted);
        return false;
    }

    if (state_.collationName.empty()) state_.collationName = L"Unknown Collation";
    const std::wstring collation = state_.collationName;
    ui_.RunSync([&] { view_.SetCollationText(collation); });

    // Say what is wrong with the pair before listing anything read from it.
    const DataFileFacts data = engine_.DataFile();
    if (data.pageCount > 0 && data.highestNamedPage >= data.pageCount)
        Warn(DataFileCutText(data.pageCount, data.highestNamedPage));
    if (!data.missingSecondaryFiles.empty()) Warn(MissingSecondaryFilesText(data));
    const LogFileFacts log = engine_.ProbeLogFile();
    if (EndIfStopped()) return false;
    if (LogMissesLastChange(data, log) &&
        prompter_.AskYesNo(LogMismatchQuestion(data, log)) != PromptAnswer::Yes) {
        Status(kTextRunCompleted);
        return false;
    }

    Status(L"Processing User table....");
    engine_.BuildUserTableMap();
    Status(L"Processing Ldf File....");
    engine_.ScanLdfFile(prompter_);
    const bool stopped = state_.stopRequested();

    if (engine_.OperationCount() != 0) {
        Status(L"Creating Tree in Tree control....");
        const uint64_t total = engine_.OperationCount();
        std::vector<std::pair<std::wstring, uint32_t>> tables;  // label, table id (counted off the UI thread)
        for (const auto& [id, name] : engine_.TakeTableNameMap())
            tables.emplace_back(name + L"[" + std::to_wstring(engine_.CountOperationsOfTable(id)) + L"]", id);
        ui_.RunSync([&] {
            TreeItem root = view_.TreeInsertItem(chosen, 1, 1, kNoTreeItem);
            view_.TreeSetItemData(root, 0);
            TreeItem all = view_.TreeInsertItem(L"All[" + std::to_wstring(total) + L"]", 0, 0, root);
            view_.TreeSetItemData(all, 0);
            for (const auto& [label, id] : tables) view_.TreeSetItemData(view_.TreeInsertItem(label, 0, 0, all), id);
            view_.TreeSortChildren(all);
        });
    } else if (!stopped && log.opened) {
        // An empty tree says nothing by itself.
        const wchar_t* why = log.bytes == 0 ? kTextLogEmpty : log.vlfs == 0 ? kTextLogWithoutVlf
                                                                           : kTextNoUserTableOperation;
        prompter_.ShowMessage(why, MessageIcon::Information);
    }
    Status(stopped ? kTextRunStopped : kTextRunCompleted);
    return true;
}

}  // namespace kestrane
