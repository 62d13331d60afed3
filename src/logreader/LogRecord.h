#pragma once
// Field access to one log record inside its (stamp-free) block, and its element walk. The head
// fields are read from the record's first 192 bytes as the block holds them (zero past the block);
// the elements only from the record's own extent.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "logreader/LogBlock.h"
#include "logreader/LogFormat.h"
#include "platform/ByteReader.h"

namespace kestrane {

// The head fields of a record that the scan reads, from `Self::HeadBytes()`: the record's first
// kSize bytes as stored (stamp undone, zero past the block).
template <typename Self>
class LogHeadFields {
public:
    static constexpr size_t kSize = 0x38;

    uint16_t FixedLength() const { return Get<uint16_t>(logfmt::kOffFixedLength); }
    uint8_t Operation() const { return Bytes()[logfmt::kOffOperation]; }
    uint8_t Context() const { return Bytes()[logfmt::kOffContext]; }
    uint16_t Flags() const { return Get<uint16_t>(logfmt::kOffFlags); }
    bool IsCompensation() const { return (Flags() & logfmt::kFlagCompensation) != 0; }
    uint64_t TransactionId() const {
        return TransactionKey(Get<uint32_t>(logfmt::kOffTransactionId), Get<uint16_t>(logfmt::kOffTransactionId + 4));
    }
    uint64_t RowsetId() const { return Get<uint64_t>(logfmt::kOffRowsetId); }
    uint64_t BeginTime() const { return Get<uint64_t>(logfmt::kOffBeginTime); }  // of a begin-transaction record
    CLogSeqNo Previous() const { return Lsn(logfmt::kOffPreviousLsn); }
    CLogSeqNo PagePrevious() const { return Lsn(logfmt::kOffPagePreviousLsn); }

private:
    const uint8_t* Bytes() const { return static_cast<const Self*>(this)->HeadBytes(); }
    template <typename T>
    T Get(size_t at) const {
        T v;
        std::memcpy(&v, Bytes() + at, sizeof v);
        return v;
    }
    CLogSeqNo Lsn(size_t at) const {
        CLogSeqNo l;
        l.Set(Get<uint32_t>(at), Get<uint32_t>(at + 4), Get<uint16_t>(at + 8));
        return l;
    }
};

// A record head copied out of its block: it outlives the block's bytes.
class LogRecordHead : public LogHeadFields<LogRecordHead> {
public:
    LogRecordHead(const LogBlockView& block, size_t start) { block.CopySmall(start, bytes_); }
    const uint8_t* HeadBytes() const { return bytes_; }

private:
    alignas(8) uint8_t bytes_[kSize];
};

// A record head read where it lies: in the bytes of a block held whole with its stamps undone, at
// a record whose first kSize bytes lie inside the block.
class LogRecordHeadAt : public LogHeadFields<LogRecordHeadAt> {
public:
    explicit LogRecordHeadAt(const uint8_t* at) : at_(at) {}
    const uint8_t* HeadBytes() const { return at_; }

private:
    const uint8_t* at_;
};

class RowLogRecord {
public:
    RowLogRecord() = default;
    RowLogRecord(ByteView block, LogRecordExtent extent)
        : head_(block.clip(extent.start, logfmt::kRecordExamined)),
          body_(block.sub(extent.start, extent.end - extent.start)) {}

    uint16_t FixedLength() const { return head_.getOr<uint16_t>(logfmt::kOffFixedLength, 0); }
    uint8_t Operation() const { return head_.getOr<uint8_t>(logfmt::kOffOperation, 0); }
    uint8_t Context() const { return head_.getOr<uint8_t>(logfmt::kOffContext, 0); }
    LogPageId Page() const {
        return LogPageId{head_.getOr<uint32_t>(logfmt::kOffPage, 0), head_.getOr<uint16_t>(logfmt::kOffFile, 0)};
    }
    uint16_t RowSlot() const { return head_.getOr<uint16_t>(logfmt::kOffSlot, 0); }
    uint64_t RowsetId() const { return head_.getOr<uint64_t>(logfmt::kOffRowsetId, 0); }
    uint16_t OffsetInRow() const { return head_.getOr<uint16_t>(logfmt::kOffRowOffset, 0); }
    uint16_t ElementCount() const { return head_.getOr<uint16_t>(logfmt::kOffElementCount, 0); }
    // Length of element e from the length array (0 when the array entry lies outside the record).
    uint16_t ElementLength(uint32_t e) const {
        return body_.getOr<uint16_t>(logfmt::kOffElementLengths + 2 * size_t{e}, 0);
    }
    // Offset (from the record start) where the element data begin: after the length array, plus
    // 2 for an inserted row.
    size_t ElementsStart() const {
        size_t at = logfmt::kOffElementLengths + 2 * size_t{ElementCount()};
        if (Operation() == logfmt::kOpInsertRow) at += 2;
        return at;
    }

    ByteView body() const { return body_; }
    ByteView head() const { return head_; }

private:
    ByteView head_;
    ByteView body_;
};

// Walks the elements of a row record from ElementsStart(), each one 4-byte aligned from the
// record's start. Stops at the record's end: an element whose length runs past it is not handed out.
class LogElementWalk {
public:
    explicit LogElementWalk(const RowLogRecord& record);
    // Next element, or false at the end of the walk.
    bool Next(ByteView& element);
    uint32_t Index() const { return index_; }  // index of the element Next() returned last + 1

private:
    const RowLogRecord& record_;
    size_t pos_;
    uint32_t index_ = 0;
    uint32_t count_;
};

// The name field of the begin-transaction record at `extent` of `block`, whose fixed part is
// `fixedLength` bytes long, as stored (before the cut at a zero character); false as for
// ReadBeginTransaction.
inline bool ReadTransactionNameField(const LogBlockView& block, LogRecordExtent extent, uint16_t fixedLength,
                                     std::vector<uint8_t>& scratch, ByteView& field) {
    const size_t var = size_t{extent.start} + fixedLength, end = extent.end;
    if (var + 4 > end) return false;
    uint8_t counts[4];
    block.CopySmall(var, counts);
    const size_t fieldCount = counts[0] | counts[1] << 8, nameLength = counts[2] | counts[3] << 8;
    if (fieldCount == 0) return false;
    // The fields begin 4-byte aligned after the length array: one field skips nothing, two skip 2.
    const size_t nameAt = var + ((2 + 2 * fieldCount + 3) & ~size_t{3});
    if (nameAt > end || nameLength > end - nameAt) return false;
    field = block.Range(nameAt, nameLength, scratch);
    return true;
}
// The name a name field holds: up to its length or its first zero character.
ByteView TransactionNameIn(ByteView field);
// The name field and begin time of the begin-transaction record at `extent` of `block`. False when the
// record holds no name field (field count 0) or the name does not lie inside the record: the caller
// then keeps its current name and time. `rawName` is the UTF-16LE name up to its length or its first
// zero character, a view into the block or into `scratch`.
bool ReadBeginTransaction(const LogBlockView& block, LogRecordExtent extent, std::vector<uint8_t>& scratch,
                          ByteView& rawName, uint64_t& beginTime);
// UTF-16LE name bytes as text (into `name`, its storage reused).
void DecodeTransactionName(ByteView rawName, std::wstring& name);

}  // namespace kestrane
