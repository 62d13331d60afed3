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
#include "sqltext/BufferedScriptFile.h"
#include "sqltext/StandInTally.h"

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

// What became of the operations given to an InsertScriptWriter since it was last asked.
struct InsertScriptSettled {
    uint64_t keptOperations = 0;  // their rows stand whole in their file
    uint64_t keptRows = 0;
    uint64_t notWritten = 0;  // their text did not reach the file whole (or could not be begun)
    StandInTally standIns;    // the stand-ins among the kept rows' values
};

// The INSERT text of a table's run of logged operations, as WriteInsertScripts writes it call by call
// (same bytes, same roll-over places), but into a table file kept open and written in large blocks.
// An operation's rows count as kept only once the block holding its text has reached the file whole;
// Take() tells which did. Failures count in `script.failedWrites` as with WriteInsertScripts. The
// destructor flushes what is left.
class InsertScriptWriter {
public:
    static constexpr size_t kBlockBytes = 1u << 20;

    // The arguments of WriteInsertScripts that stay the same for the table's run.
    InsertScriptWriter(std::wstring& tableFilePath, const std::wstring& databaseName, const std::wstring& tableName,
                       BinaryFile& listFile, InsertScriptState& script)
        : tableFilePath_(tableFilePath), databaseName_(databaseName), tableName_(tableName), listFile_(listFile),
          script_(script) {}
    ~InsertScriptWriter() { Flush(); }
    InsertScriptWriter(const InsertScriptWriter&) = delete;
    InsertScriptWriter& operator=(const InsertScriptWriter&) = delete;

    // Adds the rows of one operation (`columns`: the same list for the table's run). Returns the number
    // of rows handed to the writer (settled later by Take), 0 when there were none or a stop came first.
    size_t Write(const std::vector<RowValues>& rows, const ColumnDefList& columns, const RunState& state);
    // Adds text after the rows (the table's tail).
    void Append(const std::wstring& text);
    // Writes out what is buffered; false when it did not reach the file whole.
    bool Flush();
    // The operations settled since the last call.
    InsertScriptSettled Take();

private:
    struct Pending {
        uint64_t end;  // the file's length once the operation's text is in
        uint64_t rows;
        StandInTally standIns;
    };
    bool Open();
    const std::wstring& Head(const std::vector<RowValues>& rows, const ColumnDefList& columns, const RunState& state);

    std::wstring& tableFilePath_;
    const std::wstring& databaseName_;
    const std::wstring& tableName_;
    BinaryFile& listFile_;
    InsertScriptState& script_;
    BufferedScriptFile file_;
    bool opened_ = false;  // an open was tried
    std::vector<Pending> pending_;
    InsertScriptSettled settled_;
    std::wstring text_, head_, headTable_;  // the statement being built; the last head and what it was for
    const ColumnDefList* headColumns_ = nullptr;
    int headIdentity_ = -1;
    size_t headCount_ = 0;
};

}  // namespace kestrane
