#include "export/OperationRowScript.h"

#include "export/SavedRowImages.h"

namespace kestrane {

uint64_t WriteOperationRowScript(OperationRebuilder& rebuilder, uint64_t blockOffset, uint64_t allocationUnitId,
                                 TableLayout& layout, uint32_t slotIndex, TableScriptTarget& target,
                                 const RunState& state, uint8_t operation,
                                 std::wstring& noRowReason) {
    KeptRows kept = KeepRows(operation, rebuilder.Rebuild(blockOffset, allocationUnitId, layout, slotIndex));
    noRowReason = std::move(kept.noRowReason);
    const std::vector<RowValues>& rows = kept.rows;
    if (rows.empty()) return 0;
    return target.writer.Write(rows, target.columns, state);
}

}  // namespace kestrane
