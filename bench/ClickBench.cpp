// The cost of a click on an operation, on a table of its real size and grown to 1 M pages: the schema
// load of before (columns and the page list, every click) against the click of a listing (schema
// loaded once, no page list). Then a click on an update, on its table as logged and grown to 1 M
// logged operations: a view made for the click (the table's row history read again) against the
// listing's view. Needs a corpus pair with logged operations. Last, every update of a synthetic row
// changed N times, replayed in log order as a save does, with its middle record's bytes wrong and clean.
//   ClickBench [data file] [log file]   (default: the library-2014 pair of the corpus)
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "../tests/logreader/LogFixture.h"
#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "logreader/LogScanner.h"
#include "logreader/LogScanner.h"
#include "logreader/OperationDetail.h"
#include "logreader/RowHistory.h"
#include "logreader/UpdateRowReplay.h"
#include "logreader/UserTableMap.h"
#include "platform/Prompter.h"
#include "platform/TextCodec.h"

using namespace kestrane;

namespace {

struct Quiet : OperationStatusSink, RecordGridSink, Prompter {
    void SetStatusLine(const std::wstring&) override {}
    void ClearRecordGrid() override {}
    void SetColumns(const ColumnDefList&, uint32_t) override {}
    void InsertRowAtTop(const std::vector<std::wstring>&) override {}
    void ShowMessage(const std::wstring&, MessageIcon) override {}
    PromptAnswer AskYesNo(const std::wstring&) override { return PromptAnswer::No; }
};

template <typename F>
double MicrosPerCall(int calls, F f) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) f();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / calls;
}

// Grows every data-page list of the table's allocation units to `pages` entries of distinct page
// numbers past the file's end: the page walk lists them as it would real pages (it reads none).
size_t GrowTable(CMdfFile& file, CMetadataCatalog& catalog, const std::wstring& table, size_t pages) {
    catalog.BuildObjectLists(table, L"U ", {});
    size_t total = 0;
    for (const AllocationUnitRecord& unit : catalog.tableAllocationUnits) {
        auto it = file.DataPages().find(AllocationUnitPageKey(unit.id, unit.ownerId));
        if (it == file.DataPages().end() || it->second.empty()) continue;
        std::vector<PageRef>& refs = it->second;
        const PageRef model = refs.front();
        refs.reserve(pages);
        for (uint32_t page = static_cast<uint32_t>(file.PageCount()) + 1; refs.size() < pages; ++page)
            refs.push_back(PageRef{model.fileId, page, model.pageType});
        total += refs.size();
    }
    return total;
}

bool IsUpdate(uint8_t operation) { return operation == logfmt::kOpModifyRow || operation == logfmt::kOpModifyColumns; }

// Appends copies of the table's entries that are not on the clicked update's row until the table has
// `total` entries: the click's own row keeps its history, the table's history grows.
size_t GrowLoggedOperations(OperationStore& store, const LogByteSource& log, size_t clicked, size_t total) {
    const OperationEntry target = store[clicked];
    const uint64_t unit = store.AllocationUnitId(target);
    const uint32_t objectId = store.ObjectId(target);
    const RowHistory history(store, unit, log);
    const auto own = history.StepsOfRow(target.blockOffset, target.slotIndex);
    std::vector<OperationEntry> others;
    for (uint32_t index : store.EntriesOfTable(objectId)) {
        const OperationEntry& e = store[index];
        const auto steps = history.StepsOfRow(e.blockOffset, e.slotIndex);
        if (!own || !steps || steps->steps != own->steps) others.push_back(e);
    }
    if (others.empty()) return store.EntriesOfTable(objectId).size();
    for (size_t n = store.EntriesOfTable(objectId).size(), i = 0; n < total; ++n, ++i) store.Append(others[i % others.size()]);
    return store.EntriesOfTable(objectId).size();
}

// A row (key 73) changed by `n` updates of an int at offset 8 (k to k + 1), the middle one with before bytes the
// row never held when `bad`; the page holds the last state. Returns the milliseconds to replay every
// update in log order with one replay.
struct ChainPages : DataPageImages {
    std::vector<uint8_t> image;
    bool Read(PageAddress, std::vector<uint8_t>& out) override {
        out = image;
        return true;
    }
};
std::vector<uint8_t> ChainRow(uint32_t value) {
    std::vector<uint8_t> fixed = test::Le(73, 4);
    const std::vector<uint8_t> v = test::Le(value, 4);
    fixed.insert(fixed.end(), v.begin(), v.end());
    return test::FixedVarRow(fixed, 2, {});
}
std::vector<uint8_t> ChainUpdate(uint32_t before, uint32_t after) {
    test::RowRecordSpec s;
    s.operation = logfmt::kOpModifyRow;
    s.rowsetId = 0x1000;
    s.page = 20;
    s.offsetInRow = 8;
    s.elements = {test::Le(before, 4), test::Le(after, 4), {0x16, 73, 0, 0, 0, 1, 0, 0},
                  {1, 1, 0, 0x0C, 0, 0, 0x4B, 0, 0, 0, 0, 0, 2, 4, 0, 0x0A, 0, 0, 73, 0, 0, 0}};
    return test::RowRecord(s);
}
double ReplayChainMs(uint32_t n, bool bad) {
    std::vector<std::vector<uint8_t>> blocks, records;
    for (uint32_t k = 0; k < n; ++k) {
        records.push_back(ChainUpdate(bad && k == n / 2 ? 999999 : k, k + 1));
        if (records.size() == 100 || k + 1 == n) {
            blocks.push_back(test::LogBlock(7, records));
            records.clear();
        }
    }
    test::LogImage image;
    image.AddVlf(0, 7, blocks);
    const MemoryLogSource log{ByteView(image.bytes)};
    OperationStore store;
    const UserTableMap tables = {{0x1000, {77, L"T"}}};
    LogScanner(tables, store).Scan(log);
    ChainPages pages;
    test::PageBuilder page(1, 20);
    page.AddRow(ChainRow(n));
    test::PutU32(page.image, kHdrLsn, 7);
    test::PutU32(page.image, kHdrLsn + 4, 0xFFFFFF);
    pages.image = page.image;
    const auto start = std::chrono::steady_clock::now();
    const RowHistory history(store, 0x1000, log);
    UpdateRowReplay replay(pages, log);
    size_t failed = 0;
    for (size_t i = 0; i < store.Size(); ++i) {
        const auto steps = history.StepsOfRow(store[i].blockOffset, store[i].slotIndex);
        if (steps) failed += replay.Replay(*steps->steps, steps->target).failure != RowRebuildFailure::None;
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("chain of %5u updates, %-5s: %zu updates replayed (%zu fail) in %10.1f ms\n", n, bad ? "bad" : "clean",
                store.Size(), failed, ms);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path corpus = std::filesystem::path(KESTRANE_CORPUS_DIR) / "library-2014";
    const std::string dataPath = argc > 1 ? argv[1] : (corpus / "Database.mdf").string();
    const std::string logPath = argc > 2 ? argv[2] : (corpus / "Database_log.ldf").string();
    RunState state("");
    Quiet quiet;
    NullProgressSink progress;
    CDbFileHolder holder(state, progress);
    if (!holder.Open(Utf8ToWide(dataPath)) || !holder.Catalog()) {
        std::fprintf(stderr, "cannot open %s\n", dataPath.c_str());
        return 1;
    }
    CMetadataCatalog& catalog = *holder.Catalog();
    UserTableMap tables;
    BuildUserTableMap(catalog, tables);
    OperationStore store;
    BinaryFile log;
    ScanLdfFile(log, logPath, tables, store, quiet);
    if (store.Empty()) {
        std::fprintf(stderr, "no logged operation in %s\n", logPath.c_str());
        return 1;
    }
    const FileLogSource source(log);
    const std::wstring table = store.TableName(store[0]);
    std::printf("table %s, %zu operations\n", WideToUtf8(table).c_str(), store.EntriesOfTable(store.ObjectId(store[0])).size());

    auto measure = [&](const char* label) {
        catalog.BuildObjectLists(table, L"U ", {});
        const size_t listed = catalog.tablePages.size();
        const double schemaLoad = MicrosPerCall(20, [&] { catalog.BuildObjectLists(table, L"U ", {}); });
        TableSchemaCache cache;
        OperationDetailView view(store, holder, catalog, state, source, quiet, quiet, &cache);
        view.OnOperationClicked(0);
        const double click = MicrosPerCall(200, [&] { view.OnOperationClicked(0); });
        std::printf("%-28s %9zu pages listed: schema load with page list %10.1f us | click in a listing %8.1f us\n",
                    label, listed, schemaLoad, click);
    };
    measure("as in the file");
    const size_t grown = GrowTable(*holder.DataFile(), catalog, table, size_t{1} << 20);
    std::printf("grown to %zu page references\n", grown);
    measure("grown to 1 M pages");

    size_t update = store.Size();
    for (size_t i = 0; i < store.Size() && update == store.Size(); ++i)
        if (IsUpdate(store[i].operation)) update = i;
    if (update == store.Size()) {
        std::printf("no logged update in this pair\n");
    } else {
        const std::wstring updated = store.TableName(store[update]);
        auto clicks = [&](const char* label, size_t operations) {
            TableSchemaCache cache;
            OperationDetailView kept(store, holder, catalog, state, source, quiet, quiet, &cache);
            kept.OnOperationClicked(update);
            const int freshCalls = operations > 100000 ? 3 : 200;
            const double fresh = MicrosPerCall(freshCalls, [&] {
                OperationDetailView(store, holder, catalog, state, source, quiet, quiet, &cache).OnOperationClicked(update);
            });
            const double listing = MicrosPerCall(200, [&] { kept.OnOperationClicked(update); });
            std::printf("update click, %-20s %9zu logged operations: view made per click %12.1f us | listing's view %8.1f us\n",
                        label, operations, fresh, listing);
        };
        std::printf("update on table %s\n", WideToUtf8(updated).c_str());
        clicks("as logged", store.EntriesOfTable(store.ObjectId(store[update])).size());
        const size_t grown = GrowLoggedOperations(store, source, update, size_t{1} << 20);
        clicks("grown to 1 M", grown);
    }

    for (uint32_t n : {1000u, 4000u, 8000u}) ReplayChainMs(n, true);
    ReplayChainMs(8000, false);
    return 0;
}
