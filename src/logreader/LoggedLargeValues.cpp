#include "logreader/LoggedLargeValues.h"

#include <algorithm>
#include <tuple>
#include <unordered_set>

#include "datafile/Record.h"
#include "logreader/LogBlock.h"
#include "logreader/LogReadWindow.h"
#include "logreader/LogRecord.h"
#include "logreader/LogScanner.h"

namespace kestrane {

namespace {
constexpr uint8_t kUnitTextData = 2;
constexpr uint8_t kUnitRowOverflow = 3;
constexpr uint32_t kLargeValueRecordType = 4;
constexpr size_t kBlobIdAt = 4;  // in a large-value record, after status bytes and length

bool IsLargeValueUnit(uint8_t type) { return type == kUnitTextData || type == kUnitRowOverflow; }

// The inserted row of a row-insert record when it is a large-value record.
bool InsertedLargeValue(const RowLogRecord& record, ByteView& row) {
    LogElementWalk walk(record);
    if (!walk.Next(row)) return false;
    const uint8_t statusA = row.getOr<uint8_t>(0, 0);
    return ((statusA >> 1) & 0x07) == kLargeValueRecordType && row.fits(kBlobIdAt, 8);
}
}  // namespace

void LoggedLargeValues::Build() {
    built_ = true;
    std::unordered_set<uint64_t> largeUnits;
    for (const AllocationUnitRecord& unit : units_)
        if (IsLargeValueUnit(unit.type)) largeUnits.insert(unit.id);
    if (largeUnits.empty()) return;
    const uint64_t size = log_.Size();
    LogReadWindow window(log_);
    std::vector<uint8_t> scratch;
    for (const auto& [sequence, vlf] : LogScanner::FindVlfs(log_)) {
        if (vlf.offset >= size || size - vlf.offset <= logfmt::kFirstBlockOffset) continue;
        // Blocks follow each other until one names another VLF; each is at least a header long.
        for (uint64_t pos = vlf.offset + logfmt::kFirstBlockOffset; pos < size;) {
            uint8_t head[logfmt::kBlockHeaderSize] = {};
            const ByteView headBytes = window.Fetch(pos, sizeof head);
            headBytes.copy(0, headBytes.size(), head);
            const auto header = LogBlockHeader::Parse(ByteView(head, sizeof head));
            if (!header || header->lsn.vlfSequence != sequence || header->size < logfmt::kBlockHeaderSize) break;
            const LogBlockView block(window.Fetch(pos, header->size), *header, true);
            for (uint32_t j = 0; logfmt::IsReadableLayout(block.Layout()) && j < block.RecordCount(); ++j) {
                const LogRecordExtent extent = block.Extent(j);
                const LogRecordHead recordHead(block, extent.start);
                if (recordHead.Operation() != logfmt::kOpInsertRow || !largeUnits.count(recordHead.RowsetId())) continue;
                const ByteView bytes = block.Range(extent.start, extent.end - extent.start, scratch);
                const RowLogRecord record(bytes, LogRecordExtent{0, static_cast<uint32_t>(bytes.size())});
                ByteView row;
                if (!InsertedLargeValue(record, row)) continue;
                if (records_.size() >= maxRecords_) {
                    truncated_ = true;
                    break;
                }
                Record& r = records_.emplace_back();
                r.unit = recordHead.RowsetId();
                r.blobId = row.getOr<uint64_t>(kBlobIdAt, 0);
                r.blockOffset = pos;
                r.lsn = header->lsn;
                r.lsn.slot = static_cast<uint16_t>(r.lsn.slot + j);
                r.page = record.Page().page;
                r.file = record.Page().file;
                r.slot = record.RowSlot();
                r.slotIndex = static_cast<uint16_t>(j);
            }
            if (truncated_) break;
            pos += header->size;
        }
        if (truncated_) break;
    }
    std::stable_sort(records_.begin(), records_.end(), [](const Record& a, const Record& b) {
        return std::tie(a.file, a.page, a.slot, a.lsn) < std::tie(b.file, b.page, b.slot, b.lsn);
    });
    records_.shrink_to_fit();
}

std::vector<uint64_t> LoggedLargeValues::LargeValueUnits(uint64_t rowUnit) const {
    // The units of one partition share its id as owner; an id the list does not hold is taken as the
    // partition's own (catalogues whose in-row unit is the partition).
    uint64_t owner = rowUnit;
    for (const AllocationUnitRecord& unit : units_)
        if (unit.id == rowUnit) owner = unit.ownerId;
    std::vector<uint64_t> found;
    for (const AllocationUnitRecord& unit : units_)
        if (unit.ownerId == owner && unit.id != rowUnit && IsLargeValueUnit(unit.type)) found.push_back(unit.id);
    return found;
}

bool LoggedLargeValues::Find(uint64_t rowUnit, CLogSeqNo asOf, const LobRid& rid, uint64_t blobId, LobRecordCopy& out) {
    // Asked afresh each time: the catalogue's list may be read again under this object.
    const std::vector<uint64_t> units = LargeValueUnits(rowUnit);
    if (units.empty()) return false;
    if (!built_) Build();
    const auto key = [](const Record& r) { return std::make_tuple(r.file, r.page, r.slot); };
    const auto wanted = std::make_tuple(rid.page.fileId, rid.page.pageId, rid.slot);
    auto it = std::lower_bound(records_.begin(), records_.end(), wanted,
                               [&](const Record& r, const auto& k) { return key(r) < k; });
    const Record* latest = nullptr;
    for (; it != records_.end() && key(*it) == wanted; ++it) {
        if (asOf < it->lsn) break;
        if (blobId != 0 && it->blobId != blobId) continue;
        if (std::find(units.begin(), units.end(), it->unit) == units.end()) continue;
        latest = &*it;
    }
    return latest && ReadRecord(*latest, out);
}

bool LoggedLargeValues::ReadRecord(const Record& at, LobRecordCopy& out) {
    const auto block = ReadLogBlock(log_, at.blockOffset, block_);
    if (!block || at.slotIndex >= block->RecordCount()) return false;
    const RowLogRecord record(block->bytes(), block->Extent(at.slotIndex));
    ByteView row;
    if (record.Operation() != logfmt::kOpInsertRow || record.RowsetId() != at.unit || !InsertedLargeValue(record, row))
        return false;
    const TextRecord text(row, nullptr, static_cast<int32_t>(row.size()));
    out.recordType = text.recordType;
    out.blobId = text.blobId;
    out.dataLength = text.dataLength;
    out.data = text.dataCopy;
    out.visitKey = at.slot;
    return true;
}

}  // namespace kestrane
