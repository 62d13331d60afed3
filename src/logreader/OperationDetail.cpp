#include "logreader/OperationDetail.h"

#include <memory>

#include "datafile/CellText.h"
#include "datafile/MetadataCatalog.h"
#include "logreader/LogFormat.h"
#include "logreader/OperationRebuild.h"
#include "logreader/OperationStatement.h"
#include "platform/RunState.h"

namespace kestrane {

std::wstring RecordGridCaption(uint8_t operation, size_t index) {
    switch (operation) {
        case logfmt::kOpInsertRow: return kRowCaptionInserted;
        case logfmt::kOpDeleteRow: return kRowCaptionDeleted;
        default: return index == 0 ? kRowCaptionAfter : kRowCaptionBefore;
    }
}

std::vector<std::wstring> RecordGridCells(const std::wstring& caption, const ColumnDefList& columns,
                                          const RowValues& image, uint32_t firstColumnIndex) {
    std::vector<std::wstring> cells;
    if (firstColumnIndex >= image.size() || firstColumnIndex >= columns.size()) return cells;
    cells.push_back(caption);
    cells.push_back(GridCellText(image[firstColumnIndex]));
    for (size_t i = size_t{firstColumnIndex} + 1; i < image.size() && i < columns.size(); ++i)
        if (columns[i].ordinal != kOrdinalNotStored) cells.push_back(GridCellText(image[i]));
    return cells;
}

std::wstring OperationStatusLine(const RowImages& rebuilt, const std::wstring& tableName, const ColumnDefList& columns,
                                const RunState& state) {
    if (!rebuilt.Rebuilt() || rebuilt.images.empty()) {
        const std::wstring why = rebuilt.StatusText();
        return why.empty() ? NoStatementReason(rebuilt.operation, columns, rebuilt.images, state) : why;
    }
    const std::wstring statement = BuildOperationStatementText(rebuilt.operation, tableName, columns, rebuilt.images, state);
    if (!statement.empty()) return statement;
    const std::wstring why = NoStatementReason(rebuilt.operation, columns, rebuilt.images, state);
    // The stored bytes say whether anything changed at all.
    if (why == kNoStatementReadsTheSame && rebuilt.afterBytes != rebuilt.beforeBytes) return kNoStatementChangeNotRead;
    return why;
}

void OperationDetailView::OnOperationClicked(uint64_t entryIndex) {
    if (entryIndex >= store_.Size()) return;
    status_.ClearRecordGrid();
    status_.SetStatusLine(L"");
    state_.deletedRecordScan = 0;  // the dialog's "Advance Delete record" box is never ticked
    const OperationEntry entry = store_[entryIndex];
    const std::wstring table = store_.TableName(entry);
    const ClickedTableSchema& schema = schemas_.Get(catalog_, store_.ObjectId(entry));
    std::unique_ptr<TableLayout, void (*)(TableLayout*)> layout(BuildTableLayout(schema.columns), DestroyTableLayout);
    grid_.SetColumns(schema.columns, schema.firstColumnIndex);
    clicked_ = &schema;
    BuildOperationStatement(entry.blockOffset, store_.AllocationUnitId(entry), *layout, entry.slotIndex, table);
    clicked_ = nullptr;
}

void OperationDetailView::BuildOperationStatement(uint64_t blockOffset, uint64_t allocationUnitId,
                                                  TableLayout& layout, uint32_t slotIndex,
                                                  const std::wstring& tableName) {
    status_.SetStatusLine(L"");
    if (clicked_) rebuilder_.DecodeByRowsetColumns(clicked_->byRowsetColumns);
    else rebuilder_.DecodeAsCatalogueSays();
    const uint32_t firstColumn = clicked_ ? clicked_->firstColumnIndex : catalog_.firstColumnIndex;
    const RowImages rebuilt = rebuilder_.Rebuild(blockOffset, allocationUnitId, layout, slotIndex);
    // An operation without a statement says why in its place; one whose row cannot be rebuilt shows no rows.
    status_.SetStatusLine(OperationStatusLine(rebuilt, tableName, layout.columns, state_));
    if (!rebuilt.Rebuilt()) return;
    for (size_t i = 0; i < rebuilt.images.size(); ++i)
        grid_.InsertRowAtTop(RecordGridCells(RecordGridCaption(rebuilt.operation, i), layout.columns,
                                             rebuilt.images[i], firstColumn));
}

}  // namespace kestrane
