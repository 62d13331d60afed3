#include "logreader/OperationRebuild.h"

#include <cstring>

#include "datafile/DataPage.h"
#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "datafile/RowValueDecoder.h"

namespace kestrane {

namespace {
constexpr size_t kRowBufferSize = 8192;
constexpr size_t kRowLengthAt = 8190;  // one-row buffer: the row at 0, its length as u16 here

PageAddress AddressOf(const RowLogRecord& record) {
    const LogPageId id = record.Page();
    return PageAddress(id.file, id.page);
}
}  // namespace

std::vector<RowValues> OperationRebuilder::Decode(CDataPage& page, TableLayout& layout) {
    if (byRowsetColumns_.value_or(!catalog_.currentRowsetColumns.empty()))
        DecodeRowValuesByRowsetColumns(page, layout);
    else
        DecodeRowValues(page, layout);
    return std::move(page.decodedRows);
}

RowImages OperationRebuilder::Rebuild(uint64_t blockOffset, uint64_t allocationUnitId, TableLayout& layout,
                                      uint32_t slotIndex) {
    RowImages out;
    const auto block = ReadLogBlock(log_, blockOffset, block_);
    if (!block || !logfmt::IsReadableLayout(block->Layout())) return out;
    if (slotIndex >= block->RecordCount()) return out;
    const RowLogRecord record(block->bytes(), block->Extent(slotIndex));
    out.operation = record.Operation();
    if (record.RowsetId() != allocationUnitId) return out;

    switch (record.Operation()) {
        case logfmt::kOpInsertRow:
        case logfmt::kOpDeleteRow:
        case logfmt::kOpModifyRow: {
            LogElementWalk walk(record);
            ByteView element0;
            if (!walk.Next(element0)) return out;
            if (record.Operation() == logfmt::kOpModifyRow) {
                const size_t at = static_cast<size_t>(element0.data() - record.body().data());
                RebuildSpliced(record, ModifyRowRequest(record, element0, at), layout, out);
            } else {
                RebuildInsertOrDelete(record, element0, layout, out);
            }
            break;
        }
        case logfmt::kOpModifyColumns:
            RebuildModifyColumns(record, layout, out);
            break;
        default:
            break;
    }
    return out;
}

void OperationRebuilder::RebuildInsertOrDelete(const RowLogRecord& record, ByteView element0, TableLayout& layout,
                                               RowImages& out) {
    // A row longer than the one-row buffer cannot be a real row; it would also overwrite its length.
    if (element0.size() > kRowLengthAt) return;
    std::vector<uint8_t> buffer(kRowBufferSize, 0);
    if (!element0.empty()) std::memcpy(buffer.data(), element0.data(), element0.size());
    const auto length = static_cast<uint16_t>(element0.size());
    std::memcpy(buffer.data() + kRowLengthAt, &length, sizeof length);
    std::unique_ptr<CDataPage> page = holder_.LoadDataPageEx(AddressOf(record), ByteView(buffer));
    if (!page) return;
    std::vector<RowValues> images = Decode(*page, layout);
    if (images.empty()) return;
    images.resize(1);
    out.images = std::move(images);
}

RowSpliceRequest OperationRebuilder::ModifyRowRequest(const RowLogRecord& record, ByteView element0,
                                                      size_t element0At) {
    RowSpliceRequest request;
    request.slot = record.RowSlot();
    request.rowSpliceMode = 1;
    request.element0 = element0;
    request.element0Length = static_cast<uint32_t>(element0.size());
    request.offsetInRow = record.OffsetInRow();
    if (record.ElementCount() >= 2) {
        const size_t len0 = element0.size();
        const size_t at = element0At + len0 + (len0 % 4 ? 4 - len0 % 4 : 0);
        // Clipped to the record: a length that runs past it gives only the bytes it has.
        request.element1 = record.body().clip(at, record.ElementLength(1));
        request.element1Length = static_cast<uint32_t>(request.element1.size());
    }
    return request;
}

void OperationRebuilder::RebuildSpliced(const RowLogRecord& record, const RowSpliceRequest& request,
                                        TableLayout& layout, RowImages& out) {
    // The request holds for this one page load and its decode, and is dropped after them.
    RowSpliceScope scope(state_, request);
    std::unique_ptr<CDataPage> page = holder_.LoadDataPage(AddressOf(record));
    if (!page) return;
    out.images = Decode(*page, layout);
}

void OperationRebuilder::RebuildModifyColumns(const RowLogRecord& record, TableLayout& layout, RowImages& out) {
    RowSpliceRequest request;
    LogElementWalk walk(record);
    ByteView element;
    size_t sum = 0;
    uint32_t entryCount = 0;
    uint16_t first0 = 0, first1 = 0;
    while (walk.Next(element)) {
        const uint32_t e = walk.Index() - 1;
        const size_t len = element.size();
        if (e == 0) {
            sum += len;
            entryCount = len < 4 ? 1 : static_cast<uint32_t>(len / 4);
            if (len >= 2) {
                request.pieceEntries = element;
                request.pieceCount = static_cast<uint16_t>(entryCount);
                first0 = *element.u16(0);
            }
        } else if (e == 1) {
            sum += len;
            if (len >= 2) {
                request.pieceLengths = element;
                first1 = *element.u16(0);
            }
        } else if (e == 2 || e == 3) {
            sum += len;
        } else if (e == 4) {
            if (4 + uint64_t{entryCount} > record.ElementCount()) return;
            const size_t elementAt = static_cast<size_t>(element.data() - record.body().data());
            size_t at = elementAt + sum % 4;
            if (first0 == 0 && first1 == 1) at += 4;
            request.slot = record.RowSlot();
            request.columnSpliceMode = 1;
            request.element0 = record.body().from(at);
            request.element0Length = static_cast<uint32_t>(request.element0.size());
            RebuildSpliced(record, request, layout, out);
            return;
        }
    }
}

}  // namespace kestrane
