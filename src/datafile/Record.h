#pragma once
// Records: one row image inside a page, in the fixed/variable format (FixedVar) or the row-compressed
// format (CD). A record never owns its page. A row read in place from its page's image stays there:
// the record's views reach into that image, so a record must not outlive its page. Rows from any other
// buffer (a log record, a spliced or forwarded row) are copied into bytes the record holds.
//
// FixedVar row (offsets from the row start, little-endian):
//   0 u8 status A   1 u8 status B   2 u16 end of fixed part (fixed length + 4)   4 fixed data
//   then u16 column count | NULL bitmap, (count + 7) / 8 bytes, when A & 0x10
//   | u16 variable count + that many u16 end offsets (bit 15 complex), when A & 0x20 | variable data
// Forwarding stub (record type 2): 0 status A | 1 u32 page id | 5 u16 file id | 7 u16 slot
// CD row: 0 status A | 1 column count, one byte, or the u16 at 1..2 when bit 7 of byte 1 is set
//   | 4-bit codes, low nibble first, (count + 1) / 2 bytes | (count - 1) / 30 cluster bytes
//   | short data | NULL bitmap (A & 0x10) | long region (A & 0x20)
// CD codes: 0 NULL, 1 empty, 2..9 short value of code - 1 bytes, 10 long, 11 bit, 12 page symbol.
// CD long region: u8 flags (bit 0: offset array) | u16 n | n u16 end offsets (bit 15 complex, relative
//   to the long data) | (count - 1) / 30 cluster bytes | long data
// Status A: bit 0 CD, bits 1-3 record type, bit 4 NULL bitmap, bit 5 variable columns, bit 6 version tag.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <vector>

#include "datafile/RecordValues.h"
#include "datafile/SparseVector.h"
#include "platform/ByteReader.h"

namespace kestrane {

class RecordPage;
class RunState;

// Bounds of the formats.
constexpr int32_t kMaxFixedVarColumns = 1023;
constexpr int32_t kMaxCdColumns = 1024;
constexpr int32_t kMaxFixedLength = 8059;
constexpr int32_t kScanRoom = 8060;
// Fixed length of a forwarding stub whose target could not be read (65531 as u16).
constexpr int16_t kBrokenForwardLength = -5;

// How a record is built from its row.
enum class RecordForm {
    SlotWalk,  // a page slot: page and type checks, follows forwarding stubs, CD rows parsed as CD
    RawRow,    // a row in a caller's buffer: no page, type or forwarding handling, no CD parse
    Cd,        // the anchor record and rows known to be CD: always parsed as CD, every type accepted
};

// The row bytes of a record (see CRecord::rowCopy); compares by content.
class RowBytes : public ByteView {
public:
    RowBytes() = default;
    RowBytes(ByteView bytes) : ByteView(bytes) {}

    const uint8_t* begin() const { return data(); }
    const uint8_t* end() const { return data() + size(); }
    friend bool operator==(const RowBytes& a, const std::vector<uint8_t>& b) {
        return a.size() == b.size() && (a.empty() || std::equal(a.begin(), a.end(), b.begin()));
    }
};

class CRecord {
public:
    CRecord() = default;
    // A record of `owner` keeps its value list in the page's memory.
    explicit CRecord(const RecordPage* owner);
    virtual ~CRecord() = default;
    CRecord(const CRecord&) = delete;
    CRecord& operator=(const CRecord&) = delete;

    // Copies the NULL bitmap ((column count + 7) / 8 bytes) from `cursor` when it lies within the
    // room; returns the cursor after it.
    int32_t ReadNullBitmap(ByteView row, int32_t cursor);
    // FixedVar variable-offset array and values from `cursor`; returns the cursor after the data.
    // Without a fixed part and a NULL bitmap the row stores no variable-count word.
    int32_t ParseVariableColumns(ByteView row, int32_t cursor) { return ParseVariableColumns(row, cursor, hasFixedData()); }
    int32_t ParseVariableColumns(ByteView row, int32_t cursor, bool fixedPartPresent);
    // CD long region from `cursor`; returns the cursor after the data.
    int32_t ParseLongDataRegion(ByteView row, int32_t cursor);

    bool hasFixedData() const { return !fixedData.empty(); }
    bool hasRowCopy() const { return !rowCopy.empty(); }
    // Replaces the fixed data by bytes of the record's own (the decompressed image of a CD row).
    void SetFixedData(std::vector<uint8_t> bytes) {
        fixedOwned_ = std::move(bytes);
        fixedData = ByteView(fixedOwned_);
    }
    const RunState* state() const { return state_; }

    uint32_t recordType = 0;
    uint8_t hasNullBitmap = 0;
    uint8_t compressed = 0;
    uint8_t invalid = 0;
    uint8_t hasVariableColumns = 0;
    uint8_t ghost = 0;
    uint8_t variablePartRefused = 0;  // the variable count or offsets did not fit the record
    // The row's bytes end inside its header, fixed part (CD: codes or short data), column count, NULL
    // bitmap, offset array or variable data: what it holds is no whole row, and no row is decoded from it.
    uint8_t cut = 0;
    ByteView fixedData;  // FixedVar: the fixed part; CD: the short data (or its replacement); in the row bytes
    int16_t cdShortLengthWithClusters = 0;
    int16_t columnCount = 0;
    ByteView nullBitmap;  // in the row bytes
    int16_t variableCount = 0;
    std::pmr::vector<ColumnValue> columnValues;
    RowBytes rowCopy;  // the parsed row, [0, cursor); in the page image or in bytes the record holds
    std::unique_ptr<SparseVector> sparseVector;
    const RecordPage* ownerPage = nullptr;
    int32_t cursor = 0;
    uint16_t room = 0;
    std::vector<VarColumnOffset> longOffsets;
    int32_t longRegionStart = 0;
    std::vector<CdColumnDescriptor> cdDescriptors;

protected:
    // The run state of the owner page (null without one: every option then reads as clear).
    RunState* state_ = nullptr;
    // Resolves state_ from the owner page.
    void AttachOwner(const RecordPage* owner);
    bool includeDeletedRows() const;
    void ReportVariableDataStart(int32_t start);
    // Moves the row copy, the fixed data, the NULL bitmap and the values from `row` into bytes the
    // record holds, unless `row` lies in the owner page's image; the last step of every parse, however
    // it ends.
    void KeepBytes(ByteView row);
    struct KeepBytesOnExit {
        CRecord& record;
        ByteView row;
        KeepBytesOnExit(CRecord& r, ByteView bytes) : record(r), row(bytes) {}
        ~KeepBytesOnExit() { record.KeepBytes(row); }
    };

private:
    std::vector<uint8_t> held_;  // the bytes the views reach when the row is not in the page image
    std::vector<uint8_t> fixedOwned_;
};

class CPrimaryRecord : public CRecord {
public:
    // Slot-walk, raw-row or CD form on `row` (the bytes from the record start; reads are bounded by
    // both `room` and the view).
    CPrimaryRecord(ByteView row, const RecordPage* owner, uint16_t room, RecordForm form = RecordForm::SlotWalk);
    // Scan form for the deleted-record scan: room 8060; `length` gets the parsed length or -1.
    CPrimaryRecord(ByteView row, const RecordPage* owner, int32_t& length);
    ~CPrimaryRecord() override = default;

    void SetStatusA(uint8_t a);
    void SetStatusB(uint8_t b);
    // Parses the CD format (the room is already set).
    void ParseCompressedRecord(ByteView row);

    int16_t fixedLength = 0;
    uint8_t versionTag = 0;
    uint8_t statusBFlag = 0;
    std::vector<int> cdCodes;

private:
    enum class Mode { SlotWalk, Scan, RawRow };
    // Takes the owner and room, bounds the row by the room and reads status A; false (invalid) when
    // there is no byte to read.
    bool Begin(ByteView row, const RecordPage* owner, uint16_t room, ByteView& bounded);
    // Page and record-type acceptance; false (and invalid) when the record is refused.
    bool Accept(RecordForm form);
    // False when the parse stopped before the variable part (no usable column count).
    bool ParseFixedVar(ByteView row, Mode mode);
    // Replaces the forwarding stub by the row it points to; false when that row cannot be had.
    bool FollowForwardingStub(ByteView stub, std::vector<uint8_t>& target);
};

// The record of a text/image page (read by the large-value readers):
//   0 u8 status A   1 u8 status B   2 u16 data length + 4   4 data: u64 blob id, u16 large-value type, ...
class TextRecord : public CRecord {
public:
    TextRecord(ByteView row, const RecordPage* owner, int32_t limit);
    ~TextRecord() override = default;

    uint8_t versionTag = 0;
    uint8_t statusBFlag = 0;
    uint64_t blobId = 0;
    uint16_t largeValueType = 8;
    int32_t dataLength = 0;          // after the 10-byte id and type are taken off, when present
    std::vector<uint8_t> dataCopy;   // the data from row offset 4, blob id and type included
};

}  // namespace kestrane
