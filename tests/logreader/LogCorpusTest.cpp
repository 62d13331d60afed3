// The log scan over every corpus log: with the data file of its set (operations by table and kind,
// every one rebuilt and checked), and the logs of other databases or without a data file (no crash).
// Checks on the matching logs: a rebuilt inserted or deleted row equals the row decoded from the logged
// record's own bytes (but for large values the data file no longer gives and the log does); an insert
// whose row is untouched later still reads the same in the data file, a delete's row is gone (both
// unless the data file is older than the change); every DELETE and UPDATE names at most one current
// row; the T-SQL parser takes every statement.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <memory>

#include "datafile/CellText.h"
#include "datafile/DataPage.h"
#include "datafile/DbFileHolder.h"
#include "datafile/LargeValue.h"
#include "datafile/MetadataCatalog.h"
#include "datafile/RowValueDecoder.h"
#include "logreader/LogBlock.h"
#include "logreader/LogScanner.h"
#include "logreader/LoggedLargeValues.h"
#include "logreader/LoggedLobPages.h"
#include "logreader/OperationDetail.h"
#include "logreader/OperationPager.h"
#include "logreader/OperationRebuild.h"
#include "logreader/OperationStatement.h"
#include "platform/LineBreaks.h"
#include "platform/RunState.h"
#include "platform/TextCodec.h"
#include "support/Corpus.h"
#include "support/RecordingSinks.h"
#include "support/TsqlParserCheck.h"

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

std::vector<RowValues> Decode(CDataPage& page, CMetadataCatalog& catalog, TableLayout& layout, LobPageSource& lobs) {
    if (catalog.currentRowsetColumns.empty()) DecodeRowValues(page, layout, &lobs);
    else DecodeRowValuesByRowsetColumns(page, layout, &lobs);
    return std::move(page.decodedRows);
}

// The rows of a table as its pages hold them now.
std::vector<RowValues> CurrentRows(CDbFileHolder& holder, CMetadataCatalog& catalog, const ColumnDefList& columns,
                                   LobPageSource& lobs) {
    std::vector<RowValues> rows;
    for (const PageAddress& address : catalog.tablePages) {
        std::unique_ptr<CDataPage> page = holder.LoadDataPage(address);
        if (!page) continue;
        TableLayout layout{columns, {}, {}};
        for (RowValues& row : Decode(*page, catalog, layout, lobs)) rows.push_back(std::move(row));
    }
    return rows;
}

// The row that the logged record at (block, slot) holds, decoded from the record's first element.
std::optional<RowValues> LoggedRow(const LogByteSource& log, CDbFileHolder& holder, CMetadataCatalog& catalog,
                                   const OperationEntry& e, const ColumnDefList& columns, LobPageSource& lobs) {
    std::vector<uint8_t> buffer;
    const auto block = ReadLogBlock(log, e.blockOffset, buffer);
    if (!block || e.slotIndex >= block->RecordCount()) return std::nullopt;
    const RowLogRecord record(block->bytes(), block->Extent(e.slotIndex));
    LogElementWalk walk(record);
    ByteView element;
    if (!walk.Next(element) || element.size() > 8190) return std::nullopt;
    std::vector<uint8_t> row(8192, 0);
    std::memcpy(row.data(), element.data(), element.size());
    const uint16_t length = static_cast<uint16_t>(element.size());
    std::memcpy(row.data() + 8190, &length, 2);
    std::unique_ptr<CDataPage> page =
        holder.LoadDataPageEx(PageAddress(record.Page().file, record.Page().page), ByteView(row));
    if (!page) return std::nullopt;
    TableLayout layout{columns, {}, {}};
    std::vector<RowValues> rows = Decode(*page, catalog, layout, lobs);
    if (rows.empty()) return std::nullopt;
    return std::move(rows.front());
}

// The log's large-value records as the only source, counting the records it gave.
struct CountingLoggedPages : LoggedLobPages {
    using LoggedLobPages::LoggedLobPages;
    bool LoadLobRecord(const LobRid& rid, uint64_t blobId, LobRecordCopy& out) override {
        const bool found = LoggedLobPages::LoadLobRecord(rid, blobId, out);
        records += found;
        return found;
    }
    size_t records = 0;
};

CLogSeqNo EntryLsn(const LogByteSource& log, const OperationEntry& e) {
    std::vector<uint8_t> buffer;
    const auto block = ReadLogBlock(log, e.blockOffset, buffer);
    CLogSeqNo lsn = block ? block->header().lsn : CLogSeqNo{};
    lsn.slot = static_cast<uint16_t>(lsn.slot + e.slotIndex);
    return lsn;
}

// Whether the data file's page of the logged record holds its change already: the log may run past
// the data file (a file copied before the log's last changes), and then the page is older.
bool DataPageHolds(const LogByteSource& log, CDbFileHolder& holder, const OperationEntry& e) {
    std::vector<uint8_t> buffer;
    const auto block = ReadLogBlock(log, e.blockOffset, buffer);
    if (!block || e.slotIndex >= block->RecordCount()) return true;
    const RowLogRecord record(block->bytes(), block->Extent(e.slotIndex));
    std::unique_ptr<CDataPage> page = holder.LoadDataPage(PageAddress(record.Page().file, record.Page().page));
    if (!page || page->view().size() < kPageSize) return true;
    CLogSeqNo pageLsn, recordLsn = block->header().lsn;
    const ByteView view = page->view();
    pageLsn.Set(view.getOr<uint32_t>(kHdrLsn, 0), view.getOr<uint32_t>(kHdrLsn + 4, 0), view.getOr<uint16_t>(kHdrLsn + 8, 0));
    recordLsn.slot = static_cast<uint16_t>(recordLsn.slot + e.slotIndex);
    return recordLsn <= pageLsn;
}

// "=" as the server evaluates it: texts without trailing blanks and without case (the corpus
// collations are case-insensitive), NULL only through IS NULL, other values by their bytes.
bool KeyEquals(const Cell& a, const Cell& b) {
    if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull();
    if (!a.IsValue() || !b.IsValue()) return false;
    if (auto ta = a.WideText()) {
        std::wstring x = LowerCase(*ta), y = LowerCase(b.WideText().value_or(L""));
        while (!x.empty() && x.back() == L' ') x.pop_back();
        while (!y.empty() && y.back() == L' ') y.pop_back();
        return x == y;
    }
    return a.bytes.size() == b.bytes.size() &&
           (a.bytes.empty() || std::memcmp(a.bytes.data(), b.bytes.data(), a.bytes.size()) == 0);
}

// How many cells `rebuilt` holds where `logged` (decoded from one source alone) is unavailable, when
// the rows are otherwise the same; -1 when they differ otherwise.
long long ValuesOnlyTheLogGives(const RowValues& logged, const RowValues& rebuilt) {
    if (logged == rebuilt) return 0;
    if (logged.size() != rebuilt.size()) return -1;
    long long fromLog = 0;
    for (size_t c = 0; c < logged.size(); ++c) {
        const Cell a = logged[c], b = rebuilt[c];
        if (a.state == CellState::Unavailable && b.state == CellState::Value) {
            ++fromLog;
            continue;
        }
        if (a.state != b.state || a.typeCode != b.typeCode || a.bytes.size() != b.bytes.size() ||
            (!a.bytes.empty() && std::memcmp(a.bytes.data(), b.bytes.data(), a.bytes.size()) != 0))
            return -1;
    }
    return fromLog;
}

struct Counts {
    int insertsDiffering = 0, deletesStillThere = 0;
    long long loggedRowsCompared = 0, loggedCellsCompared = 0, loggedRowsDiffering = 0, loggedCellsUnavailable = 0;
    long long valuesFromLog = 0;  // large values the data file no longer gives, read from the log's records
    // Inserted rows whose large values the log alone gives, the same as the data file's, or not.
    long long logAloneSame = 0, logAlonePart = 0, logAloneDiffering = 0;
    int namedOne = 0, namedNone = 0, namedMany = 0;
    int newerThanDataFile = 0;  // inserts and deletes that the data file's pages do not hold yet
    int cellsWithLineBreaks = 0;  // grid cells whose value holds line breaks, shown as marks
};

// Rebuilds every entry through the click handler (statement and grid) and through the rebuilder, and
// checks each against the logged bytes and the current rows.
void RebuildAndCheck(const OperationStore& store, CDbFileHolder& holder, CMetadataCatalog& catalog, RunState& state,
                     const LogByteSource& log, Counts& counts, std::vector<test::CheckedText>& statements) {
    struct Rebuilt {
        uint8_t operation = 0;
        std::optional<RowValues> row;  // image 0 of an insert or delete
        std::vector<size_t> keys;
        bool pageHolds = true;  // the data page holds this change (it is not newer than the data file)
    };
    MdfLobPageSource lobs(*holder.DataFile());
    LoggedLargeValues loggedValues(log, catalog.allocationUnits);
    RecordingDetail detail;
    OperationDetailView view(store, holder, catalog, state, log, detail, detail);
    std::map<uint32_t, std::vector<Rebuilt>> byTable;
    std::map<uint32_t, ColumnDefList> columnsOf;
    std::map<uint32_t, std::vector<std::pair<uint8_t, RowValues>>> named;  // statements' rows to name
    for (size_t i = 0; i < store.Size(); ++i) {
        const OperationEntry& e = store[i];
        view.OnOperationClicked(i);
        const ColumnDefList columns = catalog.BuildObjectLists(store.TableName(e), L"U ", {});
        columnsOf[store.ObjectId(e)] = columns;
        TableLayout layout{columns, {}, {}};
        OperationRebuilder rebuilder(holder, catalog, state, log);
        rebuilder.UseListing(store);
        const RowImages images = rebuilder.Rebuild(e.blockOffset, store.AllocationUnitId(e), layout, e.slotIndex);
        const std::wstring statement =
            BuildOperationStatementText(images.operation, store.TableName(e), columns, images.images, state);
        EXPECT_EQ(detail.status, images.Rebuilt() && !statement.empty() ? statement
                                                                          : OperationStatusLine(images, store.TableName(e), columns, state));
        EXPECT_FALSE(detail.status.empty()) << i;
        // Every value shows on one row of the grid: a line break would be drawn over the rows below.
        for (const auto& cells : detail.rows)
            for (const std::wstring& cell : cells) {
                EXPECT_TRUE(std::none_of(cell.begin(), cell.end(), IsLineBreak)) << i;
                counts.cellsWithLineBreaks += cell.find(kLineBreakMark) != std::wstring::npos;
            }
        // An update whose row cannot be rebuilt shows why, and no rows: no save writes it either.
        if (!images.Rebuilt()) {
            EXPECT_TRUE(detail.rows.empty()) << i;
            EXPECT_TRUE(images.images.empty()) << i;
        }
        if (!statement.empty())
            statements.push_back({WideToUtf8(store.TableName(e)) + " #" + std::to_string(i), statement});
        Rebuilt r;
        r.operation = e.operation;
        if (e.operation == 2 || e.operation == 3) r.pageHolds = DataPageHolds(log, holder, e);
        counts.newerThanDataFile += !r.pageHolds;
        if ((e.operation == 2 || e.operation == 3) && !images.images.empty()) {
            r.row = images.images[0];
            if (const auto logged = LoggedRow(log, holder, catalog, e, columns, lobs)) {
                ++counts.loggedRowsCompared;
                counts.loggedCellsCompared += static_cast<long long>(logged->size());
                for (size_t c = 0; c < logged->size(); ++c)
                    counts.loggedCellsUnavailable += logged->state(c) == CellState::Unavailable;
                // The rebuild may read a large value from the log where the data file gives none.
                const long long fromLog = ValuesOnlyTheLogGives(*logged, images.images[0]);
                counts.valuesFromLog += std::max(fromLog, 0LL);
                const bool same = fromLog >= 0;
                counts.loggedRowsDiffering += !same;
                EXPECT_TRUE(same) << WideToUtf8(store.TableName(e)) << " entry " << i;
            }
        }
        if (e.operation == 2 && r.row) {
            CountingLoggedPages fromLog(loggedValues, store.AllocationUnitId(e), EntryLsn(log, e));
            const auto logAlone = LoggedRow(log, holder, catalog, e, columns, fromLog);
            if (fromLog.records > 0 && logAlone) {
                // The log may hold part of a value only (unavailable then), never another value.
                const long long partOnly = ValuesOnlyTheLogGives(*logAlone, *r.row);
                (partOnly == 0 ? counts.logAloneSame : partOnly > 0 ? counts.logAlonePart : counts.logAloneDiffering) += 1;
                EXPECT_GE(partOnly, 0) << WideToUtf8(store.TableName(e)) << " entry " << i;
            }
        }
        if (!statement.empty() && e.operation == 3) named[store.ObjectId(e)].emplace_back(3, images.images[0]);
        if (!statement.empty() && (e.operation == 4 || e.operation == 6))
            named[store.ObjectId(e)].emplace_back(4, images.images[0]);
        byTable[store.ObjectId(e)].push_back(std::move(r));
    }
    for (const auto& [objectId, ops] : byTable) {
        const std::wstring table = store.Tables().count(objectId) ? store.Tables().at(objectId) : L"";
        const ColumnDefList columns = catalog.BuildObjectLists(table, L"U ", {});
        const std::vector<RowValues> rows = CurrentRows(holder, catalog, columns, lobs);
        const std::vector<size_t> keys = StatementKeyColumns(columns);
        auto sameKey = [&](const RowValues& a, const RowValues& b) {
            for (size_t k : keys)
                if (k >= a.size() || k >= b.size() || !KeyEquals(a[k], b[k])) return false;
            return true;
        };
        // Every DELETE and UPDATE names at most one of the rows the table holds now.
        for (const auto& [operation, image] : named[objectId]) {
            int matches = 0;
            for (const RowValues& row : rows) matches += sameKey(row, image);
            (matches == 0 ? counts.namedNone : matches == 1 ? counts.namedOne : counts.namedMany) += 1;
            EXPECT_LE(matches, 1) << WideToUtf8(table) << ": " << WideToUtf8(WhereCondition(columns, image, state));
        }
        for (size_t k = 0; k < ops.size(); ++k) {
            const Rebuilt& r = ops[k];
            if (!r.row || (r.operation != 2 && r.operation != 3) || !r.pageHolds) continue;
            bool touchedLater = false, insertedLater = false;
            for (size_t m = k + 1; m < ops.size(); ++m) {
                if (ops[m].row ? sameKey(*ops[m].row, *r.row) : ops[m].operation != 2) {
                    touchedLater = true;
                    insertedLater |= ops[m].operation == 2;
                }
            }
            const RowValues* now = nullptr;
            for (const RowValues& row : rows)
                if (sameKey(row, *r.row) && (!now || row == *r.row)) now = &row;
            if (r.operation == 2) counts.insertsDiffering += now && !touchedLater && !(*now == *r.row);
            else counts.deletesStillThere += now && !insertedLater;
        }
    }
}

// Clicks through one listing load each table's schema once, list no table pages, and show what a
// schema loaded afresh for the click shows.
TEST(LogCorpus, ClicksLoadEachTableSchemaOnce) {
    KESTRANE_REQUIRE_CORPUS();
    std::set<std::string> checked;
    for (const auto& row : test::CorpusSummary()) {
        if (row.matchingLog.empty()) continue;
        const auto root = *test::CorpusRoot();
        RunState state("");
        NullProgressSink progress;
        CDbFileHolder holder(state, progress);
        if (!holder.Open(Utf8ToWide((root / row.set / row.dataFile).string())) || !holder.Catalog()) continue;
        CMetadataCatalog& catalog = *holder.Catalog();
        UserTableMap tables;
        BuildUserTableMap(catalog, tables);
        OperationStore store;
        BinaryFile file;
        test::ScriptedPrompter prompter;
        ScanLdfFile(file, (root / row.set / row.matchingLog).string(), tables, store, prompter);
        checked.insert(row.set + "/" + row.dataFile);
        if (store.Empty()) continue;
        SCOPED_TRACE(row.set);
        const FileLogSource source(file);
        TableSchemaCache cache;
        RecordingDetail listed, fresh;
        OperationDetailView view(store, holder, catalog, state, source, listed, listed, &cache);
        std::set<std::wstring> clickedTables;
        for (size_t i = 0; i < store.Size(); ++i) {
            view.OnOperationClicked(i);
            OperationDetailView(store, holder, catalog, state, source, fresh, fresh).OnOperationClicked(i);
            EXPECT_EQ(listed.status, fresh.status) << i;
            EXPECT_EQ(listed.rows, fresh.rows) << i;
            clickedTables.insert(store.TableName(store[i]));
        }
        EXPECT_EQ(cache.Loads(), clickedTables.size());
        EXPECT_TRUE(catalog.tablePages.empty());
        EXPECT_TRUE(catalog.pageKeys.empty());
    }
    test::ExpectEveryListedChecked(test::CorpusListedPairKeys(), checked);
}

TEST(LogCorpus, EveryLogScansAndEveryOperationRebuilds) {
    KESTRANE_REQUIRE_CORPUS();
    const auto summary = test::CorpusSummary();
    std::set<std::string> matched;
    Counts total;
    std::vector<test::CheckedText> statements;
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
            if (opened && isMatching) matched.insert(set.name + "/" + set.dataFiles.front().filename().string());
            if (!opened || store.Empty()) continue;
            Counts counts;
            const FileLogSource source(file);
            std::vector<test::CheckedText> logStatements;
            RebuildAndCheck(store, holder, *holder.Catalog(), state, source, counts, logStatements);
            if (!isMatching) continue;
            // The large-value records the log inserted for the listed tables (a lookup reads them all).
            LoggedLargeValues logged(source, holder.Catalog()->allocationUnits);
            CLogSeqNo last;
            last.Set(UINT32_MAX, UINT32_MAX, UINT16_MAX);
            LobRecordCopy unused;
            for (size_t i = 0; i < store.Size() && !logged.Built(); ++i)
                logged.Find(store.AllocationUnitId(store[i]), last, LobRid{}, 0, unused);
            EXPECT_EQ(counts.insertsDiffering, 0);
            EXPECT_EQ(counts.deletesStillThere, 0);
            std::printf("%s: %lld logged rows (%lld values, %lld not available) compared with their rebuilds, %lld "
                        "differ; DELETE/UPDATE naming one current row %d, none %d, several %d; "
                        "inserts/deletes newer than the data file %d; large values read from the log %lld (of %zu "
                        "logged large-value records; inserted rows whose large values the log alone gives: %lld as the "
                        "data file, %lld in part, %lld otherwise); grid cells with line breaks %d\n",
                        set.name.c_str(), counts.loggedRowsCompared, counts.loggedCellsCompared,
                        counts.loggedCellsUnavailable, counts.loggedRowsDiffering, counts.namedOne, counts.namedNone,
                        counts.namedMany, counts.newerThanDataFile, counts.valuesFromLog, logged.RecordCount(),
                        counts.logAloneSame, counts.logAlonePart, counts.logAloneDiffering, counts.cellsWithLineBreaks);
            for (auto& s : logStatements) statements.push_back({set.name + " " + s.name, std::move(s.text)});
        }
    }
    test::ExpectEveryListedChecked(test::CorpusListedPairKeys(), matched);
    if (test::ParserMissing().empty()) {
        const int accepted = test::ExpectParserAccepts(statements, "log-statements");
        std::printf("%zu statements, %d accepted by the T-SQL parser\n", statements.size(), accepted);
    } else if (test::ParserRequired()) {
        ADD_FAILURE() << "the T-SQL parser check is required under CI: " << test::ParserMissing();
    }
}

}  // namespace
}  // namespace kestrane
