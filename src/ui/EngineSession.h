#pragma once
// The main dialog's engine objects over the real reader: the open database (CDbFileHolder with its data
// file and catalogue), the log file kept open for re-reads, the user-table map and the operation entries.
#include <memory>

#include "datafile/DbFileHolder.h"
#include "logreader/OperationStore.h"
#include "logreader/UserTableMap.h"
#include "platform/BinaryFile.h"
#include "platform/RunState.h"
#include "ui/AnalysisEngine.h"

namespace kestrane {

class EngineSession : public AnalysisEngine {
public:
    explicit EngineSession(RunState& state);
    ~EngineSession() override;

    void CloseDataFile() override;
    void ResetDatabase() override;
    bool Open(const std::wstring& path, bool advanceSearch, ProgressSink& sink) override;
    bool HasCatalog() const override { return holder_.Catalog() != nullptr; }
    bool CatalogHasObjects() const override;
    DataFileFacts DataFile() const override;
    LogFileFacts ProbeLogFile() override;
    void BuildUserTableMap() override;
    void ScanLdfFile(Prompter& prompter) override;
    uint64_t OperationCount() const override { return store_.Size(); }
    int64_t CountOperationsOfTable(uint32_t tableId) const override {
        return static_cast<int64_t>(store_.EntriesOfTable(tableId).size());
    }
    std::map<uint32_t, std::wstring> TakeTableNameMap() override;

    CDbFileHolder& Holder() { return holder_; }
    OperationStore& Operations() { return store_; }
    BinaryFile& LogFile() { return logFile_; }
    // Where progress of later page loads goes (the dialog's sink); a null sink until set.
    void SetProgressSink(ProgressSink* sink) { forward_.target = sink; }

private:
    // The holder keeps one sink for its life; this one forwards to whoever listens now.
    struct ForwardingSink : ProgressSink {
        ProgressSink* target = nullptr;
        ProgressSink& to() { return target ? *target : NullProgressSink::instance(); }
        void SetPosition(int p) override { to().SetPosition(p); }
        void SetRange(int r) override { to().SetRange(r); }
        void StatusText(const std::string& t) override { to().StatusText(t); }
        void FatalText(const std::string& t) override { to().FatalText(t); }
        void ErrorDescription(const std::string& t) override { to().ErrorDescription(t); }
    };

    RunState& state_;
    ForwardingSink forward_;
    CDbFileHolder holder_;
    BinaryFile logFile_;
    UserTableMap userTables_;
    OperationStore store_;
};

}  // namespace kestrane
