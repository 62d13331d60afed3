// Every update of every corpus log with its data file, rebuilt as the grid and the saves rebuild it:
// a rebuilt "after" row holds the logged after bytes where the record puts them, the "before" row the
// logged before bytes, and the "before" row of each change is the "after" row of the change to the
// same row before it. Counts per set how many rebuilt and why the others could not be.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "datafile/DataPage.h"
#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "logreader/LogBlock.h"
#include "logreader/LogScanner.h"
#include "logreader/LoggedRowChange.h"
#include "logreader/OperationRebuild.h"
#include "logreader/RowHistory.h"
#include "platform/RunState.h"
#include "platform/TextCodec.h"
#include "support/Corpus.h"
#include "support/RecordingSinks.h"

namespace kestrane {
namespace {

// A row without its version tag: the server logs a tag's old bytes as zeros.
std::vector<uint8_t> WithoutVersionTag(std::vector<uint8_t> row) {
    if (!row.empty() && (row[0] & 0x40) && row.size() >= 14 && StoredRowLength(ByteView(row)) == row.size())
        row.resize(row.size() - 14);
    return row;
}

// Whether `row` holds `bytes` at `at`, up to its version tag (which starts at `tag`).
bool Holds(const std::vector<uint8_t>& row, size_t at, ByteView bytes, size_t tag) {
    if (at > row.size() || bytes.size() > row.size() - at) return false;
    const size_t compared = at < tag ? std::min(bytes.size(), tag - at) : 0;
    return compared == 0 || std::memcmp(row.data() + at, bytes.data(), compared) == 0;
}

struct UpdateCounts {
    std::map<RowRebuildFailure, int> byFailure;
    int misplaced = 0, chained = 0, chainBroken = 0;
    int movedOn = 0;  // rebuilt, and the logged slot no longer holds the row as the change left it
};

// The row that the logged slot of the update's page holds today; empty when none.
std::vector<uint8_t> LoggedSlotRowToday(CDbFileHolder& holder, const RowLogRecord& record) {
    std::unique_ptr<CDataPage> page = holder.LoadDataPage(PageAddress(record.Page().file, record.Page().page));
    if (!page || page->view().size() < kPageSize) return {};
    const ByteView view = page->view();
    if (record.RowSlot() >= view.getOr<uint16_t>(22, 0)) return {};  // the header's slot count
    const ByteView row = view.from(view.getOr<uint16_t>(kPageSize - 2 - 2 * size_t{record.RowSlot()}, 0));
    const ByteView stored = row.sub(0, StoredRowLength(row));
    return std::vector<uint8_t>(stored.data(), stored.data() + stored.size());
}

void CheckUpdates(const OperationStore& store, CDbFileHolder& holder, RunState& state, const LogByteSource& log,
                  UpdateCounts& counts) {
    CMetadataCatalog& catalog = *holder.Catalog();
    OperationRebuilder rebuilder(holder, catalog, state, log);
    rebuilder.UseListing(store);
    std::map<std::pair<uint32_t, uint64_t>, std::vector<uint8_t>> lastAfter;  // (table, row) -> after row
    std::map<uint32_t, ColumnDefList> columnsOf;
    std::map<uint64_t, RowHistory> histories;  // by allocation unit: rows as the rebuild groups them
    std::vector<uint8_t> buffer;
    for (size_t i = 0; i < store.Size(); ++i) {
        const OperationEntry& e = store[i];
        const auto block = ReadLogBlock(log, e.blockOffset, buffer);
        if (!block || e.slotIndex >= block->RecordCount()) continue;
        const RowLogRecord record(block->bytes(), block->Extent(e.slotIndex));
        auto history = histories.find(store.AllocationUnitId(e));
        if (history == histories.end())
            history = histories.emplace(store.AllocationUnitId(e), RowHistory(store, store.AllocationUnitId(e), log)).first;
        const std::pair<uint32_t, uint64_t> row{
            store.ObjectId(e), history->second.RowOf(e.blockOffset, e.slotIndex).value_or(LoggedRowIdentity(record))};
        const auto change = ReadLoggedRowChange(record);
        if (e.operation == 2 || e.operation == 3) lastAfter.erase(row);
        if (e.operation != 4 && e.operation != 6) continue;
        auto columns = columnsOf.find(store.ObjectId(e));
        if (columns == columnsOf.end())
            columns = columnsOf.emplace(store.ObjectId(e), catalog.BuildObjectLists(store.TableName(e), L"U ", {})).first;
        TableLayout layout{columns->second, {}, {}};
        const RowImages images = rebuilder.Rebuild(e.blockOffset, store.AllocationUnitId(e), layout, e.slotIndex);
        ++counts.byFailure[images.failure];
        if (!images.Rebuilt() || !change) {
            lastAfter.erase(row);
            continue;
        }
        bool placed = true;
        const size_t afterTag = WithoutVersionTag(images.afterBytes).size();
        const size_t beforeTag = WithoutVersionTag(images.beforeBytes).size();
        for (const ChangedPiece& piece : change->pieces)
            placed &= Holds(images.afterBytes, piece.afterAt, piece.after, afterTag) &&
                      Holds(images.beforeBytes, piece.beforeAt, piece.before, beforeTag);
        counts.misplaced += !placed;
        // Moved on: the slot's row today, with this change undone, is not the row right before it.
        std::vector<uint8_t> today = LoggedSlotRowToday(holder, record), undone;
        counts.movedOn += !UndoRowChange(ByteView(today), *change, undone) ||
                          WithoutVersionTag(undone) != WithoutVersionTag(images.beforeBytes);
        EXPECT_TRUE(placed) << WideToUtf8(store.TableName(e)) << " entry " << i;
        if (const auto previous = lastAfter.find(row); previous != lastAfter.end()) {
            const bool same = WithoutVersionTag(previous->second) == WithoutVersionTag(images.beforeBytes);
            ++(same ? counts.chained : counts.chainBroken);
            EXPECT_TRUE(same) << WideToUtf8(store.TableName(e)) << " entry " << i;
        }
        lastAfter[row] = images.afterBytes;
    }
}

// Whether SOURCES.md's note on `set` says that a row of it "is updated N times in the log": the log
// then holds that row's whole history, and every update of the set rebuilds.
bool ListedWithWholeUpdateHistory(const std::string& set) {
    const std::string text = test::CorpusSourcesText();
    const size_t note = text.find("**`" + set + "`**");
    if (note == std::string::npos) return false;
    const std::string line = text.substr(note, text.find('\n', note) - note);
    const size_t at = line.find(" is updated ");
    return at != std::string::npos && line.find(" times in the log", at) != std::string::npos;
}

TEST(UpdateRebuildCorpus, EveryUpdateHoldsItsLoggedBytesAndFollowsTheOneBefore) {
    KESTRANE_REQUIRE_CORPUS();
    const auto root = *test::CorpusRoot();
    std::set<std::string> checked;
    for (const auto& pair : test::CorpusSummary()) {
        if (pair.matchingLog.empty()) continue;
        RunState state("");
        NullProgressSink progress;
        CDbFileHolder holder(state, progress);
        if (!holder.Open(Utf8ToWide((root / pair.set / pair.dataFile).string())) || !holder.Catalog()) continue;
        UserTableMap tables;
        BuildUserTableMap(*holder.Catalog(), tables);
        OperationStore store;
        BinaryFile file;
        test::ScriptedPrompter prompter;
        ScanLdfFile(file, (root / pair.set / pair.matchingLog).string(), tables, store, prompter);
        checked.insert(pair.set + "/" + pair.dataFile);
        SCOPED_TRACE(pair.set);
        const FileLogSource source(file);
        UpdateCounts counts;
        CheckUpdates(store, holder, state, source, counts);
        std::printf("%s: updates rebuilt %d; not rebuildable: record unreadable %d, no starting row %d, "
                    "logged bytes differ %d, keyless with no sure row %d; changes following the one before %d "
                    "(%d not); rebuilt whose logged slot has moved on %d\n",
                    pair.set.c_str(), counts.byFailure[RowRebuildFailure::None],
                    counts.byFailure[RowRebuildFailure::RecordUnreadable],
                    counts.byFailure[RowRebuildFailure::NoStartingRow], counts.byFailure[RowRebuildFailure::BytesDiffer],
                    counts.byFailure[RowRebuildFailure::NoSureRow], counts.chained, counts.chainBroken, counts.movedOn);
        // Every row change the history gives fits the row it is applied to.
        EXPECT_EQ(counts.byFailure[RowRebuildFailure::BytesDiffer], 0);
        if (ListedWithWholeUpdateHistory(pair.set)) {
            EXPECT_EQ(counts.byFailure[RowRebuildFailure::NoStartingRow], 0);
            EXPECT_EQ(counts.byFailure[RowRebuildFailure::RecordUnreadable], 0);
            EXPECT_EQ(counts.byFailure[RowRebuildFailure::NoSureRow], 0);
        }
    }
    test::ExpectEveryListedChecked(test::CorpusListedPairKeys(), checked);
}

}  // namespace
}  // namespace kestrane
