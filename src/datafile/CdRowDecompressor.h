#pragma once
// Row-compressed (CD) records back to the shape of their uncompressed twins, in two steps:
//
// 1. `ResolveCdColumns`, at page load (no column types needed): each CD column's stored bytes, with a
//    page-dictionary symbol replaced by its entry and a column prefix of the page's anchor record put
//    back, are laid one after another in the record's fixed-data block (zero-filled to at least 4096
//    bytes); the record's `CdColumnDescriptor` list gets one {is NULL, length} entry per CD column.
// 2. `ExpandCdRecord`, once the table's columns are known: each value is expanded for its type and
//    placed as an uncompressed row would hold it (fixed part by leaf offsets, bits packed, variable
//    values by variable index), and the descriptors are re-indexed by position in the column list.
//    The CD codes are then cleared: the record reads like an uncompressed row with the NULLs in its
//    descriptors, and a second call changes nothing.
//
// Page compression, as stored: a value of a column whose anchor value is non-empty starts with the
// number of anchor bytes it shares (one byte, or two big-endian when the first has bit 7 set, bit 7
// then cleared), followed by its own bytes; dictionary entries hold such prefixed values too.
#include <cstdint>
#include <vector>

#include "datafile/ColumnDef.h"
#include "platform/ByteReader.h"

namespace kestrane {

class CPrimaryRecord;
class PrimaryRecordPage;

// Anchor prefix put back: the first (stated count) bytes of `anchor`, then the rest of `value`.
void ApplyAnchorPrefix(ByteView anchor, ByteView value, std::vector<uint8_t>& out);

// Step 1; `page` supplies the anchor values and dictionary entries (may be null). Records without CD
// codes are left alone.
void ResolveCdColumns(CPrimaryRecord& record, const PrimaryRecordPage* page);

// Step 2; false when the record is not a resolved CD record (nothing changed).
bool ExpandCdRecord(CPrimaryRecord& record, const ColumnDefList& columns);

// Step 2 for every record of the page.
void ExpandCompressedRecords(PrimaryRecordPage& page, const ColumnDefList& columns);

}  // namespace kestrane
