#include "export/OperationRowScript.h"

#include "export/SavedRowImages.h"

namespace kestrane {

uint64_t WriteOperationRowScript(OperationRebuilder& rebuilder, uint64_t blockOffset, uint64_t allocationUnitId,
                                 TableLayout& layout, uint32_t slotIndex, TableScriptTarget& target,
                                 const RunState& state, InsertScriptState& script, uint8_t operation,
                                 std::wstring& noRowReason) {
    KeptRows kept = KeepRows(operation, rebuilder.Rebuild(blockOffset, allocationUnitId, layout, slotIndex));
    noRowReason = std::move(kept.noRowReason);
    const std::vector<RowValues>& rows = kept.rows;
    if (rows.empty()) return 0;
    const std::wstring text = WriteInsertScripts(rows, target.columns, target.tableFilePath, target.databaseName,
                                                 target.tableFolderName, target.listFile, state, script);
    return text.empty() ? 0 : rows.size();  // a stop before the first row writes none
}

}  // namespace kestrane
