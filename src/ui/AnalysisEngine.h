#pragma once
// What the main dialog and the analysis run need from the engine: the open database (data file and
// catalogue), the log scan's operation entries and table names. EngineSession implements it over the
// real reader; tests give a fake.
#include <cstdint>
#include <map>
#include <string>

#include "platform/ProgressSink.h"
#include "platform/Prompter.h"

namespace kestrane {

class AnalysisEngine {
public:
    virtual ~AnalysisEngine() = default;

    // The close-data-file routine's engine part: paging state, catalogue, data file, log file,
    // user-table map and operation entries.
    virtual void CloseDataFile() = 0;
    // Reset-and-show-error's engine part: the catalogue reset, the data file and catalogue objects freed.
    virtual void ResetDatabase() = 0;
    // Opens the data file with its page index, boot page, catalogue and secondary files; progress,
    // status and fatal texts go to `sink`. False when the opener refused (it has reported why).
    virtual bool Open(const std::wstring& path, bool advanceSearch, ProgressSink& sink) = 0;
    virtual bool HasCatalog() const = 0;
    virtual bool CatalogHasObjects() const = 0;
    virtual void BuildUserTableMap() = 0;
    // Scans the log file named in the run state; "LDF File Cannot be open..." goes to `prompter`.
    virtual void ScanLdfFile(Prompter& prompter) = 0;
    virtual uint64_t OperationCount() const = 0;
    virtual int64_t CountOperationsOfTable(uint32_t tableId) const = 0;
    // The table id -> name map that the scan filled, emptied by the taking.
    virtual std::map<uint32_t, std::wstring> TakeTableNameMap() = 0;
};

}  // namespace kestrane
