#pragma once
// The large-value records the log inserted: where a logged row's large value is read when the data
// file no longer holds it as logged. The log is read once, on the first value that needs it, and only
// row inserts whose row is a large-value record are kept, by the page and slot they were inserted at,
// with the later deletes and modifications of those places (a record changed since its insert, as a
// root whose links were added later, is not given); a record's bytes are read again from its block
// when a link asks.
#include <cstdint>
#include <utility>
#include <vector>

#include "datafile/CatalogRecords.h"
#include "datafile/LargeValue.h"
#include "logreader/LogByteSource.h"
#include "logreader/LogFormat.h"

namespace kestrane {

class LoggedLargeValues {
public:
    // Records kept at most: beyond, the rest of the log is not indexed (about 48 bytes a record).
    static constexpr size_t kDefaultMaxRecords = size_t{1} << 20;

    // `units` is the catalogue's allocation-unit list; it must outlive this object.
    LoggedLargeValues(const LogByteSource& log, const std::vector<AllocationUnitRecord>& units,
                      size_t maxRecords = kDefaultMaxRecords)
        : log_(log), units_(units), maxRecords_(maxRecords) {}

    // The record inserted at `rid` for the table whose row records carry `rowUnit` (the records carry
    // that id or one of the table's large-value units'; a table without such units has none), of blob
    // `blobId` (0: any): the last such insert at or before `asOf`. False when the log holds none.
    bool Find(uint64_t rowUnit, CLogSeqNo asOf, const LobRid& rid, uint64_t blobId, LobRecordCopy& out);

    // Read the log yet; how many records were kept; whether the limit cut the index short.
    bool Built() const { return built_; }
    size_t RecordCount() const { return records_.size(); }
    bool Truncated() const { return truncated_; }
    uint64_t LogBytes() const { return log_.Size(); }

private:
    struct Record {
        uint64_t unit = 0;
        uint64_t blobId = 0;
        uint64_t blockOffset = 0;
        CLogSeqNo lsn;
        uint32_t page = 0;
        uint16_t file = 0;
        uint16_t slot = 0;
        uint16_t slotIndex = 0;
    };

    void Build();
    // The large-value units (text and row-overflow) of the table whose row records carry `rowUnit`.
    std::vector<uint64_t> LargeValueUnits(uint64_t rowUnit) const;
    bool ReadRecord(const Record& at, LobRecordCopy& out);

    const LogByteSource& log_;
    const std::vector<AllocationUnitRecord>& units_;
    size_t maxRecords_;
    bool built_ = false;
    bool truncated_ = false;
    std::vector<Record> records_;  // by file, page, slot, then in log order
    // Deletes and modifications of an inserted record's place after its insert: (place, LSN), sorted.
    std::vector<std::pair<uint64_t, CLogSeqNo>> changes_;
    std::vector<uint8_t> block_;
};

}  // namespace kestrane
