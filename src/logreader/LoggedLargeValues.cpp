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

bool IsLaterChange(uint8_t operation) {
    return operation == logfmt::kOpDeleteRow || operation == logfmt::kOpModifyRow || operation == logfmt::kOpModifyColumns;
}

uint64_t PlaceKey(uint16_t file, uint32_t page, uint16_t slot) {
    return uint64_t{file} << 48 | uint64_t{page} << 16 | slot;
}

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
    const uint64_t size = log_.Size();
    LogReadWindow window(log_);
    std::unordered_set<uint64_t> inserted;  // places of the large-value records inserted so far
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
                const uint8_t operation = recordHead.Operation();
                if (IsLaterChange(operation)) {
                    // A record changed or removed after its insert is not the inserted image any more.
                    uint8_t place[8];
                    block.CopySmall(extent.start + logfmt::kOffPage, place);
                    const ByteView p(place, sizeof place);
                    const uint64_t key = PlaceKey(p.getOr<uint16_t>(4, 0), p.getOr<uint32_t>(0, 0), p.getOr<uint16_t>(6, 0));
                    if (!inserted.count(key)) continue;
                    if (changes_.size() >= maxRecords_) {
                        truncated_ = true;
                        break;
                    }
                    CLogSeqNo lsn = header->lsn;
                    lsn.slot = static_cast<uint16_t>(lsn.slot + j);
                    changes_.push_back({key, lsn});
                    continue;
                }
                if (operation != logfmt::kOpInsertRow) continue;
                const ByteView bytes = block.Range(extent.start, extent.end - extent.start, scratch);
                const RowLogRecord record(bytes, LogRecordExtent{0, static_cast<uint32_t>(bytes.size())});
                ByteView row;
                if (!InsertedLargeValue(record, row)) continue;
                inserted.insert(PlaceKey(record.Page().file, record.Page().page, record.RowSlot()));
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
    std::sort(changes_.begin(), changes_.end());
}

std::vector<uint64_t> LoggedLargeValues::LargeValueUnits(uint64_t rowUnit) const {
    // The units of one partition share its id as owner. The id a row record carries is the partition's
    // (its large-value records carry the same), or on some catalogues its in-row unit's; unit and
    // partition ids share one number space, so both readings are taken.
    std::vector<uint64_t> owners{rowUnit};
    for (const AllocationUnitRecord& unit : units_)
        if (unit.id == rowUnit && unit.type == 1) owners.push_back(unit.ownerId);
    std::vector<uint64_t> found;
    for (const AllocationUnitRecord& unit : units_)
        if (IsLargeValueUnit(unit.type) && std::find(owners.begin(), owners.end(), unit.ownerId) != owners.end())
            found.push_back(unit.id);
    return found;
}

bool LoggedLargeValues::Find(uint64_t rowUnit, CLogSeqNo asOf, const LobRid& rid, uint64_t blobId, LobRecordCopy& out) {
    // Asked afresh each time: the catalogue's list may be read again under this object. A table
    // without large-value units has no large-value records.
    std::vector<uint64_t> units = LargeValueUnits(rowUnit);
    if (units.empty()) return false;
    units.push_back(rowUnit);
    if (!built_) Build();
    const auto key = [](const Record& r) { return std::make_tuple(r.file, r.page, r.slot); };
    const auto wanted = std::make_tuple(rid.page.fileId, rid.page.pageId, rid.slot);
    auto it = std::lower_bound(records_.begin(), records_.end(), wanted,
                               [&](const Record& r, const auto& k) { return key(r) < k; });
    // The last matching insert at or before the asking record, and the first one after it.
    const Record* latest = nullptr;
    const Record* next = nullptr;
    for (; it != records_.end() && key(*it) == wanted; ++it) {
        if (blobId != 0 && it->blobId != blobId) continue;
        if (std::find(units.begin(), units.end(), it->unit) == units.end()) continue;
        if (asOf < it->lsn) {
            next = &*it;
            break;
        }
        latest = &*it;
    }
    const std::optional<CLogSeqNo> nextAt = next ? std::optional<CLogSeqNo>(next->lsn) : std::nullopt;
    if (!latest) {
        if (tracking_) tracking_->Narrow(std::nullopt, nextAt);
        return false;
    }
    // Changed between its insert and the asking record: the log does not hold it as it was then.
    const uint64_t place = PlaceKey(latest->file, latest->page, latest->slot);
    const auto change = std::upper_bound(changes_.begin(), changes_.end(), std::make_pair(place, latest->lsn));
    const bool changed = change != changes_.end() && change->first == place;
    if (changed && !(asOf < change->second)) {
        if (tracking_) tracking_->Narrow(change->second, nextAt);
        return false;
    }
    if (tracking_) {
        tracking_->Narrow(latest->lsn, nextAt);
        if (changed) tracking_->Narrow(std::nullopt, change->second);
    }
    return ReadRecord(*latest, out);
}

bool LoggedLargeValues::ReadValue(uint64_t rowUnit, CLogSeqNo asOf, ByteView reference, bool inRowRoot,
                                  std::vector<uint8_t>& out, const std::function<bool()>& read) {
    std::string key(reinterpret_cast<const char*>(reference.data()), reference.size());
    key.push_back(inRowRoot ? 'r' : 'p');
    key.append(reinterpret_cast<const char*>(&rowUnit), sizeof rowUnit);
    const std::vector<uint64_t> units = LargeValueUnits(rowUnit);
    if (const auto found = values_.find(key); found != values_.end())
        for (const KeptValue& value : found->second)
            if (value.units == units && value.range.Holds(asOf)) {
                out.insert(out.end(), value.bytes.begin(), value.bytes.end());
                return value.whole;
            }
    const size_t before = out.size();
    tracking_.emplace();
    const bool whole = read();
    AsOfRange range = *tracking_;
    tracking_.reset();
    ++valueReads_;
    // Only whole values are given again with their bytes; a failed read keeps none.
    const size_t size = key.size() + (whole ? out.size() - before : 0);
    if (keptBytes_ + size > kMaxKeptBytes) return whole;
    keptBytes_ += size;
    KeptValue& kept = values_[key].emplace_back();
    kept.units = units;
    kept.range = range;
    kept.whole = whole;
    if (whole) kept.bytes.assign(out.begin() + static_cast<std::ptrdiff_t>(before), out.end());
    return whole;
}

bool LoggedLargeValues::ReadRecord(const Record& at, LobRecordCopy& out) {
    const size_t index = static_cast<size_t>(&at - records_.data());
    if (const auto copied = copies_.find(index); copied != copies_.end()) {
        if (!copied->second) return false;
        out = *copied->second;
        return true;
    }
    // Records of one value often share a block: it is read once for them.
    if (at.blockOffset != blockAt_) {
        blockView_ = ReadLogBlock(log_, at.blockOffset, block_);
        blockAt_ = at.blockOffset;
        ++blockReads_;
    }
    std::optional<LobRecordCopy> copy;
    if (blockView_ && at.slotIndex < blockView_->RecordCount()) {
        const RowLogRecord record(blockView_->bytes(), blockView_->Extent(at.slotIndex));
        ByteView row;
        if (record.Operation() == logfmt::kOpInsertRow && record.RowsetId() == at.unit && InsertedLargeValue(record, row)) {
            const TextRecord text(row, nullptr, static_cast<int32_t>(row.size()));
            copy.emplace();
            copy->recordType = text.recordType;
            copy->blobId = text.blobId;
            copy->dataLength = text.dataLength;
            copy->data = text.dataCopy;
            copy->visitKey = at.slot;
        }
    }
    const bool found = copy.has_value();
    if (found) out = *copy;
    const size_t size = sizeof(LobRecordCopy) + (found ? copy->data.size() : 0);
    if (keptBytes_ + size <= kMaxKeptBytes) {
        keptBytes_ += size;
        copies_.emplace(index, std::move(copy));
    }
    return found;
}

}  // namespace kestrane
