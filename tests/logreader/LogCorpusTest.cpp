// The log scan over every corpus log: with the data file of its set (operations by table and kind,
// every one rebuilt, and the rebuilt rows checked against the rows the data file holds now), and the
// logs of other databases or without a data file (no crash).
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "datafile/DataPage.h"
#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "datafile/RowValueDecoder.h"
#include "logreader/LogScanner.h"
#include "logreader/OperationDetail.h"
#include "logreader/OperationPager.h"
#include "logreader/OperationRebuild.h"
#include "logreader/OperationStatement.h"
#include "platform/RunState.h"
#include "platform/TextCodec.h"
#include "support/Corpus.h"
#include "support/RecordingSinks.h"

namespace kestrane {
namespace {

struct RecordingDetail : OperationStatusSink, RecordGridSink {
    void SetStatusLine(const std::wstring& t) override { status = t; }
    void ClearRecordGrid() override { rows.clear(); }
    void SetColumns(const ColumnDefList&, uint32_t) override {}
    void InsertRowAtTop(const std::vector<std::wstring>& cells) override { rows.insert(rows.begin(), cells); }
    std::wstring status;
    std::vector<std::vector<std::wstring>> rows;
};

// Every column of the row's key (key flag, else index flag 0x08, else column 0) as one text, so that
// a table keyed on several columns is not matched on one of them.
std::wstring KeyText(const ColumnDefList& row) {
    std::wstring key;
    for (int pass = 0; pass < 2 && key.empty(); ++pass)
        for (const ColumnDef& c : row)
            if ((pass == 0 ? c.keyFlag : c.indexFlag08) == 1) key += c.name + L"=" + c.valueText + L"\x1f";
    if (key.empty() && !row.empty()) key = row.front().name + L"=" + row.front().valueText;
    return key;
}

// Stored column texts of a row, for comparing a rebuilt row with a current one.
std::vector<std::wstring> StoredTexts(const ColumnDefList& row) {
    std::vector<std::wstring> out;
    for (const ColumnDef& c : row)
        if (c.ordinal != kOrdinalNotStored) out.push_back(c.valueText);
    return out;
}

// The rows of a table as its pages hold them now.
std::vector<ColumnDefList> CurrentRows(CDbFileHolder& holder, CMetadataCatalog& catalog, const std::wstring& table) {
    const ColumnDefList columns = catalog.BuildObjectLists(table, L"U ", {});
    std::vector<ColumnDefList> rows;
    for (const PageAddress& address : catalog.tablePages) {
        std::unique_ptr<CDataPage> page = holder.LoadDataPage(address);
        if (!page) continue;
        TableLayout layout{columns, {}, {}};
        auto decoded = catalog.currentRowsetColumns.empty() ? DecodeRowValues(*page, layout)
                                                            : DecodeRowValuesByRowsetColumns(*page, layout);
        rows.insert(rows.end(), decoded.begin(), decoded.end());
    }
    return rows;
}

// Inserts whose row now holds other values though no later entry touched it, and deletes whose row
// is still there though nothing inserted it again.
struct CrossCheck {
    int insertsDiffering = 0, deletesStillThere = 0;
};

// Rebuilds every entry through the click handler (statement and grid) and through the rebuilder,
// then checks inserts and deletes of each table against its current rows.
void RebuildAndCheck(const OperationStore& store, CDbFileHolder& holder, CMetadataCatalog& catalog, RunState& state,
                     const LogByteSource& log, CrossCheck& check) {
    struct Rebuilt {
        uint8_t operation = 0;
        std::wstring key;
        std::vector<std::wstring> texts;  // of image 0
    };
    RecordingDetail detail;
    OperationDetailView view(store, holder, catalog, state, log, detail, detail);
    std::map<uint32_t, std::vector<Rebuilt>> byTable;
    for (size_t i = 0; i < store.Size(); ++i) {
        const OperationEntry& e = store[i];
        view.OnOperationClicked(i);
        const ColumnDefList columns = catalog.BuildObjectLists(store.TableName(e), L"U ", {});
        TableLayout layout{columns, {}, {}};
        OperationRebuilder rebuilder(holder, catalog, state, log);
        const RowImages images = rebuilder.Rebuild(e.blockOffset, store.AllocationUnitId(e), layout, e.slotIndex);
        Rebuilt r;
        r.operation = e.operation;
        // The key of an update (image 1) marks a row as changed later.
        const size_t keyImage = e.operation == 4 || e.operation == 6 ? 1 : 0;
        if (images.images.size() > keyImage && e.operation >= 2 && e.operation != 5 && e.operation <= 6) {
            r.key = KeyText(images.images[keyImage]);
            r.texts = StoredTexts(images.images[keyImage]);
        }
        byTable[store.ObjectId(e)].push_back(r);
    }
    for (const auto& [objectId, ops] : byTable) {
        const std::wstring table = store.Tables().count(objectId) ? store.Tables().at(objectId) : L"";
        const std::vector<ColumnDefList> rows = CurrentRows(holder, catalog, table);
        for (size_t k = 0; k < ops.size(); ++k) {
            const Rebuilt& r = ops[k];
            if (r.key.empty() || (r.operation != 2 && r.operation != 3)) continue;
            bool touchedLater = false, insertedLater = false;
            for (size_t m = k + 1; m < ops.size(); ++m) {
                if (ops[m].key == r.key) {
                    touchedLater = true;
                    insertedLater |= ops[m].operation == 2;
                }
            }
            const ColumnDefList* now = nullptr;
            for (const ColumnDefList& row : rows)
                if (KeyText(row) == r.key) now = &row;
            // Keys of tables without a unique key repeat: any current row with all the values counts.
            for (const ColumnDefList& row : rows)
                if (r.operation == 2 && StoredTexts(row) == r.texts) now = &row;
            if (r.operation == 2) check.insertsDiffering += now && !touchedLater && StoredTexts(*now) != r.texts;
            else check.deletesStillThere += now && !insertedLater;
        }
    }
}

TEST(LogCorpus, EveryLogScansAndEveryOperationRebuilds) {
    KESTRANE_REQUIRE_CORPUS();
    const auto summary = test::CorpusSummary();
    int matched = 0;
    for (const test::CorpusSet& set : test::CorpusSets()) {
        UserTableMap tables;
        RunState state("");
        NullProgressSink progress;
        CDbFileHolder holder(state, progress);
        std::string matching;
        const bool opened =
            !set.dataFiles.empty() && holder.Open(Utf8ToWide(set.dataFiles.front().string())) && holder.Catalog();
        if (opened) {
            BuildUserTableMap(*holder.Catalog(), tables);
            for (const auto& s : summary)
                if (s.set == set.name && s.dataFile == set.dataFiles.front().filename().string()) matching = s.matchingLog;
        }
        for (const auto& log : set.logFiles) {
            SCOPED_TRACE(set.name + "/" + log.filename().string());
            OperationStore store;
            BinaryFile file;
            test::ScriptedPrompter prompter;
            const LogScanStats stats = ScanLdfFile(file, log.string(), tables, store, prompter);
            EXPECT_TRUE(prompter.messages.empty());
            EXPECT_GT(stats.blocks, 0u);
            const bool isMatching = !matching.empty() && log.filename().string() == matching;
            if (!opened || store.Empty()) continue;
            CrossCheck check;
            const FileLogSource source(file);
            RebuildAndCheck(store, holder, *holder.Catalog(), state, source, check);
            if (!isMatching) continue;
            ++matched;
            EXPECT_EQ(check.insertsDiffering, 0);
            EXPECT_EQ(check.deletesStillThere, 0);
        }
    }
    EXPECT_GE(matched, 8);
}

}  // namespace
}  // namespace kestrane
