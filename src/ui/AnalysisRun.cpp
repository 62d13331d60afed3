#include "ui/AnalysisRun.h"

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "ui/ActivityLog.h"

namespace kestrane {

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
    ui_.RunSync([&] { view_.SetRunning(false); });
}

int AnalysisRun::ScanThreadProc() {
    auto status = [&](const wchar_t* text) { ui_.RunSync([&] { view_.SetStatusText(text); }); };

    state_.legacyCatalog = 0;
    ui_.RunSync([&] { logic_.CloseDataFile(); });

    const std::wstring chosen = state_.dataFilePath;
    if (!chosen.empty())
        AppendActivityLog(state_, L"Browse File Path:\t" + DoubleBackslashes(chosen) + L"\r\n");

    // The hidden "Advance Search" box is never ticked; a snapshot run carries its own choice.
    const bool advanceSearch = state_.snapshotMode != 0 && state_.snapshotAdvanceSearch == 1;
    // The path is opened as chosen: on this system a doubled backslash would name another file.
    DialogProgressSink sink(ui_, logic_);
    if (!engine_.Open(chosen, advanceSearch, sink)) {
        Exit();
        return 0;
    }
    if (engine_.HasCatalog() && !engine_.CatalogHasObjects()) {
        ui_.RunSync([&] {
            view_.TreeDeleteAllItems();
            logic_.ResetAndShowError(L"Whether it is not valid mdf file or highly corrupted");
        });
        Exit();
        return 0;
    }
    if (!engine_.HasCatalog()) {
        Exit();
        return 0;
    }

    if (state_.serverVersionText.empty()) state_.serverVersionText = L"Unknown SQL Version";
    const std::wstring version = state_.serverVersionText;
    ui_.RunSync([&] { view_.SetVersionText(version); });
    if (version == L" SQL Server 2000" || version == L" SQL Server 7.0" || version == L" SQL Server 6.5") {
        prompter_.ShowMessage(L"Software does not support version below sql server 2005", MessageIcon::Information);
        status(L"Scanning process completed.........");
        Exit();
        return 0;
    }

    if (state_.collationName.empty()) state_.collationName = L"Unknown Collation";
    const std::wstring collation = state_.collationName;
    ui_.RunSync([&] { view_.SetCollationText(collation); });

    status(L"Processing User table....");
    engine_.BuildUserTableMap();
    status(L"Processing Ldf File....");
    engine_.ScanLdfFile(prompter_);

    if (engine_.OperationCount() != 0) {
        status(L"Creating Tree in Tree control....");
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
    }
    status(L"Scanning process completed.........");

    Exit();
    if (sleep)
        sleep(2000);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    ui_.RunSync([&] { view_.TreeInvalidate(); });
    return 0;
}

}  // namespace kestrane
