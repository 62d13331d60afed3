#pragma once
// The tables of a script run: at a table's first logged operation its folder, its script file (head,
// CREATE TABLE, constraints and indexes) and its list file are made and its batch lines added; each
// kept operation then adds its row as INSERT text; the table's tail closes the file, also after a stop.
// sqlcmd ends the table's script when the server refuses its CREATE TABLE; later refusals go on.
// The rows go out in large blocks; "Processed" counts the rows that reached the file whole: once a write
// to the table file fails, the rows that did not, and the table's later operations, are counted as not
// written.
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "datafile/ColumnDef.h"
#include "export/ScriptRunContext.h"
#include "export/TickedTableWalk.h"
#include "logreader/OperationRebuild.h"
#include "logreader/OperationStore.h"
#include "platform/BinaryFile.h"

namespace kestrane {

class TableScriptWriter : public TickedTableWalk::Handler {
public:
    TableScriptWriter(ScriptRunContext& run, const OperationStore& store, OperationRebuilder& rebuilder)
        : run_(run), store_(store), rebuilder_(rebuilder) {}

    void BeginTable(const TickedTable& table) override;
    TickedTableWalk::TableStart FirstOperation(uint32_t objectId, const std::wstring& tableName) override;
    void SaveOperation(const OperationEntry& entry) override;
    void EndTable(const TickedTable& table, uint64_t matched) override;

    // The object ids of the tables written so far, each with the name its script creates it under.
    const std::vector<std::pair<uint32_t, std::wstring>>& TablesWritten() const { return written_; }
    // The object ids of the tables whose script creates them.
    const std::set<uint32_t>& TablesCreated() const { return createdIds_; }

private:
    // Appends the table's constraint and index statements, each ending its batch.
    void WriteConstraints();
    // Counts the operations whose rows reached the table file or did not; a failure ends the table's rows.
    void Settle(uint64_t failedBefore);

    ScriptRunContext& run_;
    const OperationStore& store_;
    OperationRebuilder& rebuilder_;

    bool ready_ = false;
    bool fileFailed_ = false;  // a write to the table file failed
    uint64_t rows_ = 0;
    std::wstring tableName_, folderName_, tableFilePath_;  // tableName_: the name the script creates
    ColumnDefList columns_;
    BinaryFile listFile_;
    std::optional<InsertScriptWriter> insert_;  // the table file, kept open for the table's rows
    std::vector<std::pair<uint32_t, std::wstring>> written_;
    std::set<uint32_t> createdIds_;
};

}  // namespace kestrane
