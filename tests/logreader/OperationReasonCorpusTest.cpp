// Every operation listed from a corpus pair shows something when clicked: its statement, or in the
// status line why it has none.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>

#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "logreader/LogScanner.h"
#include "logreader/OperationDetail.h"
#include "platform/RunState.h"
#include "platform/TextCodec.h"
#include "support/Corpus.h"
#include "support/RecordingSinks.h"

namespace kestrane {
namespace {

struct StatusOnly : OperationStatusSink, RecordGridSink {
    void SetStatusLine(const std::wstring& t) override { status = t; }
    void ClearRecordGrid() override {}
    void SetColumns(const ColumnDefList&, uint32_t) override {}
    void InsertRowAtTop(const std::vector<std::wstring>&) override {}
    std::wstring status;
};

TEST(OperationReasonCorpus, EveryListedOperationShowsItsStatementOrWhyNot) {
    KESTRANE_REQUIRE_CORPUS();
    std::set<std::string> checked;
    for (const test::CorpusSet& set : test::CorpusSets()) {
        for (const auto& data : set.dataFiles) {
            RunState state("");
            NullProgressSink progress;
            CDbFileHolder holder(state, progress);
            if (!holder.Open(Utf8ToWide(data.string())) || !holder.Catalog()) continue;
            CMetadataCatalog& catalog = *holder.Catalog();
            UserTableMap tables;
            BuildUserTableMap(catalog, tables);
            for (const auto& log : set.logFiles) {
                SCOPED_TRACE(set.name + "/" + log.filename().string());
                OperationStore store;
                BinaryFile file;
                test::ScriptedPrompter prompter;
                ScanLdfFile(file, log.string(), tables, store, prompter);
                checked.insert(set.name + "/" + data.filename().string());
                const FileLogSource source(file);
                StatusOnly detail;
                OperationDetailView view(store, holder, catalog, state, source, detail, detail);
                std::map<std::wstring, int> reasons;
                int silent = 0;
                for (size_t i = 0; i < store.Size(); ++i) {
                    view.OnOperationClicked(i);
                    if (detail.status.empty()) {
                        ++silent;
                        ADD_FAILURE() << "operation " << i << " of " << WideToUtf8(store.TableName(store[i]))
                                      << " (kind " << int(store[i].operation) << ") shows nothing";
                    } else if (detail.status.rfind(L"insert into ", 0) != 0 && detail.status.rfind(L"Delete from ", 0) != 0 &&
                               detail.status.rfind(L"Update ", 0) != 0) {
                        ++reasons[detail.status];  // a reason in place of a statement
                    }
                }
                std::printf("%s/%s: %zu operations, %d silent\n", set.name.c_str(), log.filename().string().c_str(),
                            store.Size(), silent);
                for (const auto& [text, count] : reasons) std::printf("  %d x %s\n", count, WideToUtf8(text).c_str());
            }
        }
    }
    test::ExpectEveryListedChecked(test::CorpusListedPairKeys(), checked);
}

}  // namespace
}  // namespace kestrane
