#pragma once
// What the steps of one script run share: the folder, the batch files, the names, the log, and the
// files that failed.
#include <cstdint>
#include <string>
#include <vector>

#include "datafile/CatalogRecords.h"
#include "export/SaveLog.h"
#include "export/SaveTally.h"
#include "export/SavedTableNames.h"
#include "export/ScriptFolderNames.h"
#include "export/SqlcmdBatchFiles.h"
#include "platform/RunState.h"
#include "sqltext/InsertScript.h"

namespace kestrane {

class CMetadataCatalog;

struct ScriptRunContext {
    RunState& state;
    CMetadataCatalog& catalog;
    const std::vector<StringTriple>& definitions;
    SaveLog& log;
    SqlcmdBatchFiles& batch;
    ScriptFolderNames& names;
    InsertScriptState& script;
    std::wstring folder;  // the database's folder, where every relative path starts
    bool saveConstraints = false;
    uint64_t rowsWritten = 0;
    std::vector<std::wstring> failedFiles;
    SaveTally tally;
    SavedTableNames tableNames;  // the names the CREATE TABLE texts give the tables

    // The stored text of a module or constraint object.
    std::wstring DefinitionText(int32_t objectId) const;
    // Creates folder/relativePath (and its folder) holding FF FE and `text`; false, with a log line,
    // when it cannot be written whole.
    bool WriteScript(const std::wstring& relativePath, const std::wstring& text);
    // Reports a file that could not be created.
    void ReportUnopenedFile(const std::wstring& path);
    // Reports a file that could not be written whole, once.
    void ReportFailedFile(const std::wstring& path);
};

}  // namespace kestrane
