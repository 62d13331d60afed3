#pragma once
// The large-value records the log inserted: where a logged row's large value is read when the data
// file no longer holds it as logged. The log is read once, on the first value that needs it, and only
// row inserts whose row is a large-value record are kept, by the page and slot they were inserted at,
// with the later deletes and modifications of those places (a record changed since its insert, as a
// root whose links were added later, is not given). A record's bytes are read from its block when a
// link first asks for them, and kept; a whole value read from the records is kept with the range of
// asking records that would read the same records, so many rows (or many updates of one row) that
// share a value read it once.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "datafile/CatalogRecords.h"
#include "datafile/LargeValue.h"
#include "logreader/LogBlock.h"
#include "logreader/LogByteSource.h"
#include "logreader/LogFormat.h"

namespace kestrane {

class LoggedLargeValues {
public:
    // Records kept at most: beyond, the rest of the log is not indexed (about 48 bytes a record).
    static constexpr size_t kDefaultMaxRecords = size_t{1} << 20;
    // Bytes of records and of whole values kept for later reads at most; beyond, they are read again.
    static constexpr size_t kMaxKeptBytes = size_t{64} << 20;

    // `units` is the catalogue's allocation-unit list; it must outlive this object.
    LoggedLargeValues(const LogByteSource& log, const std::vector<AllocationUnitRecord>& units,
                      size_t maxRecords = kDefaultMaxRecords)
        : log_(log), units_(units), maxRecords_(maxRecords) {}

    // The record inserted at `rid` for the table whose row records carry `rowUnit` (the records carry
    // that id or one of the table's large-value units'; a table without such units has none), of blob
    // `blobId` (0: any): the last such insert at or before `asOf`. False when the log holds none.
    bool Find(uint64_t rowUnit, CLogSeqNo asOf, const LobRid& rid, uint64_t blobId, LobRecordCopy& out);

    // Appends one value read whole by `read` (which reads these records through Find for `rowUnit` as
    // of `asOf`) and returns what it returned; or, when the same reference was read before by an asking
    // record for which Find gave each record it was asked the same answer, what that read gave.
    // `reference` is the row's text pointer or in-row root (`inRowRoot`).
    bool ReadValue(uint64_t rowUnit, CLogSeqNo asOf, ByteView reference, bool inRowRoot, std::vector<uint8_t>& out,
                   const std::function<bool()>& read);

    // Log blocks read for records, and values read through their records (not given again).
    uint64_t BlockReads() const { return blockReads_; }
    uint64_t ValueReads() const { return valueReads_; }

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

    // The asking records for which Find gives the same answers: from <= asOf < until (unset: no bound).
    struct AsOfRange {
        std::optional<CLogSeqNo> from, until;
        bool Holds(const CLogSeqNo& asOf) const { return (!from || *from <= asOf) && (!until || asOf < *until); }
        void Narrow(const std::optional<CLogSeqNo>& atLeast, const std::optional<CLogSeqNo>& below) {
            if (atLeast && (!from || *from < *atLeast)) from = atLeast;
            if (below && (!until || *below < *until)) until = below;
        }
    };
    struct KeptValue {
        std::vector<uint64_t> units;  // of the row unit when it was read
        AsOfRange range;
        bool whole = false;
        std::vector<uint8_t> bytes;
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
    uint64_t blockAt_ = UINT64_MAX;  // the block in block_
    std::optional<LogBlockView> blockView_;
    std::unordered_map<size_t, std::optional<LobRecordCopy>> copies_;  // by index in records_
    std::unordered_map<std::string, std::vector<KeptValue>> values_;  // by reference, kind and row unit
    size_t keptBytes_ = 0;
    std::optional<AsOfRange> tracking_;  // narrowed by each Find while a value is read
    uint64_t blockReads_ = 0, valueReads_ = 0;
};

}  // namespace kestrane
