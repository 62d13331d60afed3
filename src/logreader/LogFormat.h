#pragma once
// On-disk layout of the transaction log (.ldf) as this reader uses it, and the small log types that
// name a place in it. All values are little-endian.
//
// VLF header (48 bytes, at a log-file offset that is a multiple of 8192):
//   0x00 u8   0xAB
//   0x01 u8   parity: 0x40 or 0x80
//   0x04 u32  VLF sequence number; 0 = not a live VLF
//   0x18 u64  byte offset of the VLF in the log file
//   0x20 10   CLogSeqNo (unused)
//
// Log block (first at VLF offset + 0x2000, each next one right after the previous):
//   0x00 u16  (after the sector stamps are undone, byte 0 is the record layout: see kLayout*)
//   0x02 u16  record count n
//   0x04 u16  slot base: end of the slot array, a byte offset in the block
//   0x06 u16  block size in bytes, header included
//   0x0C 10   CLogSeqNo of the block; its u32 VLF sequence must match the VLF being walked
//   The first byte of every 512-byte sector holds a stamp; the true byte of sector i is stored at
//   block offset size - 1 - i. Record j starts at the u16 at base - 2 - 2j and ends where record
//   j + 1 starts (the last one at base - 2n).
//
// Log record head (offsets from the record start):
//   0x02 u16  fixed-part length = offset of the variable part
//   0x04 10   CLogSeqNo of the transaction's previous record; in a compensation record, that of the
//             record before the one it undoes (the next one to undo)
//   0x0E u16  flags: 0x0001 marks a compensation record (it undoes an earlier row change of its
//             transaction, in a rollback of the transaction or of one failed statement)
//   0x10 6    CTransactionId: u32 low part, u16 high part; 0 on records of no transaction
//   0x16 u8   operation code
//   0x17 u8   context code
// A record's own CLogSeqNo is {VLF sequence, block offset from the VLF start / 512, first slot of the
// block (its header's) + index in the slot array}.
// Row operation records continue:
//   0x18 u32  page number of the row      0x1C u16 file id of the row     0x1E u16 slot on the page
//   0x24 10   CLogSeqNo of the page's previous change
//   0x30 u64  rowset (partition) id of the row's heap or clustered index
//   0x38 u16  offset in the row where a modify-row change begins
//   0x3E u16  element count c             0x40 c x u16 element lengths, then the element data
// Begin-transaction records (operation 0x80):
//   0x28 8    begin time in the datetime layout (u32 ticks of 1/300 s, u32 days since 1900-01-01)
//   variable part: u16 field count k, k x u16 field lengths, padding to a 4-byte boundary of the
//   variable part, then the fields; field 0 is the transaction name in UTF-16LE.
#include <compare>
#include <cstdint>

namespace kestrane {

namespace logfmt {
constexpr uint64_t kVlfProbeStep = 8192;
constexpr size_t kVlfHeaderSize = 48;
constexpr uint8_t kVlfSignature = 0xAB;
constexpr uint64_t kFirstBlockOffset = 0x2000;
constexpr size_t kBlockHeaderSize = 28;
constexpr size_t kSectorSize = 512;
constexpr size_t kRecordExamined = 192;  // bytes of a record the scan looks at
constexpr size_t kXactExamined = 180;

// Record layouts named by a block's first byte (after the stamps are undone). Blocks of 2000
// servers (2) keep operation and context at other offsets and are not read.
constexpr uint8_t kLayoutMin = 3;  // 2005
constexpr uint8_t kLayoutMax = 6;  // 2019 and later
inline bool IsReadableLayout(uint8_t b) { return b >= kLayoutMin && b <= kLayoutMax; }

constexpr size_t kOffFixedLength = 0x02;
constexpr size_t kOffPreviousLsn = 0x04;
constexpr size_t kOffFlags = 0x0E;
constexpr size_t kOffTransactionId = 0x10;
constexpr size_t kOffOperation = 0x16;
constexpr size_t kOffContext = 0x17;
constexpr size_t kOffPage = 0x18;
constexpr size_t kOffFile = 0x1C;
constexpr size_t kOffSlot = 0x1E;
constexpr size_t kOffPagePreviousLsn = 0x24;
constexpr size_t kOffRowsetId = 0x30;
constexpr size_t kOffRowOffset = 0x38;
constexpr size_t kOffElementCount = 0x3E;
constexpr size_t kOffElementLengths = 0x40;
constexpr size_t kOffBeginTime = 0x28;

constexpr uint8_t kOpInsertRow = 2;
constexpr uint8_t kOpDeleteRow = 3;
constexpr uint8_t kOpModifyRow = 4;
constexpr uint8_t kOpModifyColumns = 6;
constexpr uint8_t kOpBeginXact = 0x80;
constexpr uint8_t kOpCommitXact = 0x81;
constexpr uint8_t kOpAbortXact = 0x82;

constexpr uint16_t kFlagCompensation = 0x0001;
constexpr uint64_t kBlockOffsetUnit = 512;  // of the block offset in a CLogSeqNo

// Contexts whose records are filed: heap, clustered index leaf and forwarded/ghosted rows.
inline bool IsFiledContext(uint8_t c) { return c == 1 || c == 2 || c == 0x13; }
}  // namespace logfmt

// A place in the log: VLF sequence, block offset inside it, slot in the block.
struct CLogSeqNo {
    uint32_t vlfSequence = 0;
    uint32_t blockOffset = 0;
    uint16_t slot = 0;

    void Clear() { *this = CLogSeqNo{}; }
    void Set(uint32_t vlf, uint32_t block, uint16_t s) { vlfSequence = vlf; blockOffset = block; slot = s; }
    friend bool operator==(const CLogSeqNo&, const CLogSeqNo&) = default;
    friend auto operator<=>(const CLogSeqNo&, const CLogSeqNo&) = default;
};

struct CTransactionId {
    uint8_t bytes[6] = {};
};

// A transaction id as one number (0: none).
inline uint64_t TransactionKey(uint32_t low, uint16_t high) { return uint64_t{high} << 32 | low; }

// Page of a logged row: page number first, then file id (the reverse of PageAddress).
struct LogPageId {
    uint32_t page = 0;
    uint16_t file = 0;
};

}  // namespace kestrane
