#pragma once
// What the main dialog and the analysis run need from the engine: the open database (data file and
// catalogue), the log scan's operation entries and table names. EngineSession implements it over the
// real reader; tests give a fake.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/ProgressSink.h"
#include "platform/Prompter.h"

namespace kestrane {

// What the open data file says about itself, for the checks that tell the user what is wrong.
struct DataFileFacts {
    uint64_t pageCount = 0;
    // The highest page of the primary file that the file's own pages and catalogue name; beyond the
    // page count it means the file was cut off. 0 when unknown.
    uint64_t highestNamedPage = 0;
    // The highest page LSN of the file (its last change); vlfSequence 0 when unknown.
    uint32_t lastChangeVlf = 0;
    uint32_t lastChangeBlock = 0;
    uint16_t lastChangeSlot = 0;
    // The folder the secondary data files were looked for in, the file names the catalogue gives them
    // there, and those of them that were not found (their pages cannot be read).
    std::wstring folder;
    std::vector<std::wstring> secondaryFiles;
    std::vector<std::wstring> missingSecondaryFiles;
};

// What the log file holds before it is scanned: its size and the sequence range of its live VLFs.
struct LogFileFacts {
    bool opened = false;
    uint64_t bytes = 0;
    uint64_t vlfs = 0;
    uint32_t firstVlfSequence = 0;
    uint32_t lastVlfSequence = 0;
};

class AnalysisEngine {
public:
    virtual ~AnalysisEngine() = default;

    // The close-data-file routine's engine part: paging state, catalogue, data file, log file,
    // user-table map and operation entries.
    virtual void CloseDataFile() = 0;
    // Reset-and-show-error's engine part: the catalogue reset, the data file and catalogue objects freed.
    virtual void ResetDatabase() = 0;
    // Opens the data file with its page index, boot page, catalogue and secondary files; progress,
    // status and fatal texts go to `sink`. False when the opener refused (it has reported why) or
    // was stopped.
    virtual bool Open(const std::wstring& path, bool advanceSearch, ProgressSink& sink) = 0;
    virtual bool HasCatalog() const = 0;
    virtual bool CatalogHasObjects() const = 0;
    virtual DataFileFacts DataFile() const { return {}; }
    // Looks at the log file named in the run state without scanning it.
    virtual LogFileFacts ProbeLogFile() { return {}; }
    virtual void BuildUserTableMap() = 0;
    // Scans the log file named in the run state; "LDF File Cannot be open..." goes to `prompter`.
    // A stop request ends the scan early with the entries found so far.
    virtual void ScanLdfFile(Prompter& prompter) = 0;
    virtual uint64_t OperationCount() const = 0;
    virtual int64_t CountOperationsOfTable(uint32_t tableId) const = 0;
    // The table id -> name map that the scan filled, emptied by the taking.
    virtual std::map<uint32_t, std::wstring> TakeTableNameMap() = 0;
};

}  // namespace kestrane
