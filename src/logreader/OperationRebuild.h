#pragma once
// The row images of one logged operation: the log block is read again by its file offset, the record
// found by its slot index, and its elements turned into rows through the data-file reader: an
// inserted or deleted row from the record alone, a modified row from its data page with the logged
// bytes put back (the row-splice request).
#include <cstdint>
#include <optional>
#include <vector>

#include "datafile/CatalogRecords.h"
#include "datafile/ColumnDef.h"
#include "datafile/RowValues.h"
#include "logreader/LogByteSource.h"
#include "logreader/LogRecord.h"
#include "platform/RunState.h"

namespace kestrane {

class CDbFileHolder;
class CMetadataCatalog;
class CDataPage;

struct RowImages {
    uint8_t operation = 0;
    // Inserted/deleted: one image. Modified: image 0 the row as it stands on its page (after the
    // change), image 1 the row with the logged bytes put back (before it); fewer when the page or a
    // decode failed. Cells follow the layout's columns.
    std::vector<RowValues> images;
};

class OperationRebuilder {
public:
    OperationRebuilder(CDbFileHolder& holder, CMetadataCatalog& catalog, RunState& state, const LogByteSource& log)
        : holder_(holder), catalog_(catalog), state_(state), log_(log) {}

    // The images of the record at `slotIndex` of the block at `blockOffset`; none when the slot is
    // beyond the block, the record belongs to another rowset, or nothing could be decoded.
    RowImages Rebuild(uint64_t blockOffset, uint64_t allocationUnitId, TableLayout& layout, uint32_t slotIndex);

    // Decodes by rowset-column records or not as the clicked table's schema says, instead of asking
    // the catalogue's current table (which may be another table by now).
    void DecodeByRowsetColumns(bool byRowsetColumns) { byRowsetColumns_ = byRowsetColumns; }

    // The splice request of a modify-row record (element 0 and its place in the row, element 1).
    static RowSpliceRequest ModifyRowRequest(const RowLogRecord& record, ByteView element0, size_t element0At);

private:
    std::vector<RowValues> Decode(CDataPage& page, TableLayout& layout);
    void RebuildInsertOrDelete(const RowLogRecord& record, ByteView element0, TableLayout& layout, RowImages& out);
    void RebuildSpliced(const RowLogRecord& record, const RowSpliceRequest& request, TableLayout& layout,
                        RowImages& out);
    void RebuildModifyColumns(const RowLogRecord& record, TableLayout& layout, RowImages& out);

    CDbFileHolder& holder_;
    CMetadataCatalog& catalog_;
    RunState& state_;
    const LogByteSource& log_;
    std::vector<uint8_t> block_;  // the re-read block; splice views point into it
    std::optional<bool> byRowsetColumns_;
};

}  // namespace kestrane
