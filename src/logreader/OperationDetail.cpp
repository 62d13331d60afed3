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
    cells.push_back(CellDisplayText(image[firstColumnIndex]));
    for (size_t i = size_t{firstColumnIndex} + 1; i < image.size() && i < columns.size(); ++i)
        if (columns[i].ordinal != kOrdinalNotStored) cells.push_back(CellDisplayText(image[i]));
    return cells;
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
    // An update whose row cannot be rebuilt shows why, in place of a statement, and no rows.
    if (!rebuilt.Rebuilt()) return status_.SetStatusLine(rebuilt.StatusText());
    if (rebuilt.images.empty()) return;
    const std::wstring statement =
        BuildOperationStatementText(rebuilt.operation, tableName, layout.columns, rebuilt.images, state_);
    if (!statement.empty()) status_.SetStatusLine(statement);
    for (size_t i = 0; i < rebuilt.images.size(); ++i)
        grid_.InsertRowAtTop(RecordGridCells(RecordGridCaption(rebuilt.operation, i), layout.columns,
                                             rebuilt.images[i], firstColumn));
}

}  // namespace kestrane
