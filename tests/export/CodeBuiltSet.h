#pragma once
// A data file, a catalogue and a log built in code, the log scanned as the analysis run scans it: for
// the click and save tests that need rows of exact bytes.
#include <filesystem>
#include <memory>
#include <vector>

#include "ExportFixtures.h"
#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "export/DatabaseSaveRun.h"
#include "export/ScriptSaveRun.h"
#include "logreader/LogByteSource.h"
#include "logreader/LogScanner.h"
#include "logreader/OperationDetail.h"
#include "logreader/UserTableMap.h"
#include "support/RecordingSinks.h"
#include "support/TdsEndpoint.h"
#include "../datafile/CatalogFixtures.h"
#include "../datafile/DataFileFixture.h"
#include "../logreader/LogFixture.h"

namespace kestrane::test {

struct CodeBuiltSet {
    TempFolder dir;
    RunState state{""};
    NullProgressSink progress;
    CDbFileHolder holder;
    CMetadataCatalog* catalog = new CMetadataCatalog(nullptr, state);
    std::vector<uint8_t> logBytes;
    std::unique_ptr<MemoryLogSource> log;
    OperationStore store;
    ScriptedPrompter prompter;  // the saves' messages, the end last

    // "Shop.mdf" of `pages`; rows are rebuilt against the data pages their records name.
    explicit CodeBuiltSet(const std::vector<FixturePage>& pages)
        : holder(std::make_unique<CMdfFile>(dir.Write("Shop.mdf", BuildDataFile(pages)), 0, state, progress), state,
                 progress) {
        holder.SetCatalog(catalog);
        state.dataFilePath = dir.wpath("Shop.mdf");
    }

    // One block: `records` inside transaction 1 ("shop"), scanned for the catalogue's user tables.
    void ScanLog(const std::vector<std::vector<uint8_t>>& records) {
        std::vector<std::vector<uint8_t>> all = {BeginXactRecord(u"shop", 0x0000A00000000001ULL, 2, 200, 1)};
        all.insert(all.end(), records.begin(), records.end());
        all.push_back(EndXactRecord(1));
        LogImage image;
        image.AddVlf(0, 1, {LogBlock(1, all)});
        logBytes = image.bytes;
        log = std::make_unique<MemoryLogSource>(ByteView(logBytes));
        UserTableMap tables;
        BuildUserTableMap(*catalog, tables);
        LogScanner(tables, store).Scan(*log);
    }

    // The saves of `tables`, every kind and no date range: the script save into `folder`, the database
    // save to `endpoint`.
    ScriptSaveResult SaveScripts(const std::vector<TickedTable>& tables, const std::filesystem::path& folder,
                                 RecordingSaveView& view, bool constraints = false) {
        InsertScriptState script;
        ScriptSaveOptions options;
        options.filter = {true, true, true, {}};
        options.scriptFolder = Utf8ToWide(folder.string());
        options.saveConstraints = constraints;
        return ScriptSaveRun(state, holder, store, *log, script, view, prompter).Run(tables, options);
    }
    DatabaseSaveResult SaveToDatabase(const std::vector<TickedTable>& tables, const TdsEndpoint& endpoint,
                                      RecordingSaveView& view) {
        RecordingProgressSink owner;
        const DatabaseSaveOptions options{
            {true, true, true, {}}, {L"Saved", L"sa", L"pw", endpoint.server(), L"FreeTDS"}, true, false};
        return DatabaseSaveRun(state, holder, store, *log, view, prompter, owner).Run(tables, options);
    }

    // Column `id` at leaf offset `leaf` (0xFFFF: the first variable column), NULL bit `id`.
    static RowsetColumnRecord Placed(uint64_t rowset, uint32_t id, uint32_t leaf, uint16_t bit = kAllBits16) {
        RowsetColumnRecord r;
        r.rowsetId = rowset;
        r.columnId = id;
        r.ordinal = id;
        r.leafOffset = leaf;
        r.nullBitIndex = id;
        r.bitPosition = bit;
        return r;
    }
    // An operation of transaction 1 on the row at (`page`, `slot`) of `rowset`.
    static std::vector<uint8_t> RowOperation(uint8_t operation, uint64_t rowset, uint32_t page, uint16_t slot,
                                             std::vector<Bytes> elements, uint16_t offsetInRow = 0) {
        RowRecordSpec s;
        s.operation = operation;
        s.transaction = 1;
        s.rowsetId = rowset;
        s.page = page;
        s.slot = slot;
        s.offsetInRow = offsetInRow;
        s.elements = std::move(elements);
        return RowRecord(s);
    }
};

// The status line and the record grid of a clicked operation.
struct RecordingDetail : OperationStatusSink, RecordGridSink {
    void SetStatusLine(const std::wstring& t) override { status = t; }
    void ClearRecordGrid() override { rows.clear(); }
    void SetColumns(const ColumnDefList& c, uint32_t) override {
        columns.clear();
        for (const ColumnDef& def : c) columns.push_back(def.name);
    }
    void InsertRowAtTop(const std::vector<std::wstring>& cells) override { rows.insert(rows.begin(), cells); }
    std::wstring status;
    std::vector<std::wstring> columns;
    std::vector<std::vector<std::wstring>> rows;
};

}  // namespace kestrane::test
