// The cost of a click on an operation, on a table of its real size and grown to 1 M pages: the schema
// load of before (columns and the page list, every click) against the click of a listing (schema
// loaded once, no page list). Needs a corpus pair with logged operations.
//   ClickBench [data file] [log file]   (default: the library-2014 pair of the corpus)
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "logreader/LogScanner.h"
#include "logreader/OperationDetail.h"
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
    return 0;
}
