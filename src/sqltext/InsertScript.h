#pragma once
// The INSERT text of logged rows in a table's script file, with the roll-over to a continuation file
// once the table file has grown past the limit.
#include <cstdint>
#include <string>
#include <vector>

#include "datafile/ColumnDef.h"
#include "datafile/RowValues.h"
#include "platform/BinaryFile.h"
#include "platform/RunState.h"

namespace kestrane {

constexpr uint64_t kScriptRollOverBytes = 1'000'000'000;

// What the INSERT writer keeps between calls; the main dialog owns one for its lifetime.
struct InsertScriptState {
    std::wstring currentTableName;          // the table that the INSERT heads name
    uint64_t rollOverCounter = 0;           // continuation files begun so far, never reset
    bool queryBackwardCompatibility = false;  // one statement per row
    uint64_t rollOverLimit = kScriptRollOverBytes;
    uint64_t failedWrites = 0;  // texts that did not reach their file whole (full disk, file gone)
};

// Appends the INSERT text of `rows` (one cell per column of `columns`) to the table file at
// `tableFilePath` and returns it. When that file is past the limit a continuation file is begun first:
// `tableFilePath` then names it, and a ":r" line for it goes to `listFile`. `databaseName` is the name
// of the continuation file's use line, `tableName` the table's folder name. Polls the stop flag before
// each row; a stop keeps only the rows written completely. A text that cannot be written whole (or a
// continuation file that cannot be begun) counts in `script.failedWrites`. The ":r" path uses "/",
// which sqlcmd resolves on Linux and on Windows.
std::wstring WriteInsertScripts(const std::vector<RowValues>& rows, const ColumnDefList& columns,
                                std::wstring& tableFilePath, const std::wstring& databaseName,
                                const std::wstring& tableName, BinaryFile& listFile, const RunState& state,
                                InsertScriptState& script);

}  // namespace kestrane
