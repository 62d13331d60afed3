#pragma once
// One logged operation as INSERT text in its table's script file: the operation is rebuilt as the
// statement view rebuilds it, and the row a save keeps goes to the table's InsertScriptWriter.
#include <cstdint>
#include <string>

#include "datafile/CatalogRecords.h"
#include "datafile/ColumnDef.h"
#include "logreader/OperationRebuild.h"
#include "platform/BinaryFile.h"
#include "sqltext/InsertScript.h"

namespace kestrane {

// The table being written: its columns and the writer of its INSERT text.
struct TableScriptTarget {
    const ColumnDefList& columns;  // the table's columns as the catalogue built them
    InsertScriptWriter& writer;
};
// Returns the number of rows handed to the writer, which settles them once they reach the file (0 when
// the rebuild gives none or a stop came first). An
// operation of kind `operation` that gives no row says why in `noRowReason` (empty otherwise).
uint64_t WriteOperationRowScript(OperationRebuilder& rebuilder, uint64_t blockOffset, uint64_t allocationUnitId,
                                 TableLayout& layout, uint32_t slotIndex, TableScriptTarget& target,
                                 const RunState& state, uint8_t operation,
                                 std::wstring& noRowReason);

}  // namespace kestrane
