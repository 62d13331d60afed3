#include "export/OperationRowReplay.h"


#include "export/RowParameters.h"
#include "export/SavedRowImages.h"
#include "platform/ActivityLogText.h"
#include "platform/TextCodec.h"

namespace kestrane {

std::wstring OperationRowReplay::ReplayOperationRow(uint64_t blockOffset, uint64_t allocationUnitId,
                                                   TableLayout& layout, uint32_t slotIndex, CSqlExportSession& session,
                                                   uint8_t operation) {
    KeptRows kept = KeepRows(operation, rebuilder_.Rebuild(blockOffset, allocationUnitId, layout, slotIndex));
    for (const RowValues& row : kept.rows) {
        try {
            rowStandIns_.Clear();
            if (FillRowValues(layout.columns, row, state_, values_, &rowStandIns_)) session.InsertRow(values_);
            ++addedRows_;
            standIns_.Add(rowStandIns_);  // only the rows the server took
        } catch (const OdbcError& e) {
            AppendActivityLog(state_, L"row not inserted after " + std::to_wstring(addedRows_) + L"  row no.\r\n");
            if (refusedRows_++ == 0) firstRefusal_ = e;
            // A broken key or constraint refuses this row only; anything else is the run's to report.
            if (!e.IntegrityViolation()) failure_ = e;
        } catch (const std::exception& e) {
            AppendActivityLog(state_, L"row not inserted after " + std::to_wstring(addedRows_) + L"  row no.\r\n");
            if (refusedRows_++ == 0) firstRefusalText_ = Utf8ToWide(e.what());
        }
    }
    return std::move(kept.noRowReason);
}

}  // namespace kestrane
