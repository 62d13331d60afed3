#pragma once
// What one row-operation log record says about its row, and the splice that moves a row across a
// logged change. Every element of such a record starts 4-byte aligned from the record's start.
//   inserted row:  element 0 the row; deleted row: element 0 the row as it was.
//   modify-row:    element 0 the bytes before, element 1 the bytes after, both at the row offset of the head.
//   modify-columns: element 0 holds p = length / 4 pieces {u16 offset in the row before; u16 offset in
//                  the row after}; piece k's bytes before are element 4 + 2k, its bytes after 5 + 2k.
// The row's lock element (insert: 2, delete: 1, modify: 3) ends with the hash of the row's key when
// the rowset has one; it names the row across moves to other slots.
#include <cstdint>
#include <optional>
#include <vector>

#include "logreader/LogRecord.h"
#include "platform/ByteReader.h"

namespace kestrane {

struct ChangedPiece {
    uint32_t beforeAt = 0;  // offset in the row before the change
    uint32_t afterAt = 0;   // offset in the row after it
    ByteView before;
    ByteView after;
};

struct LoggedRowChange {
    uint8_t operation = 0;
    ByteView row;                       // insert/delete: the whole row
    std::vector<ChangedPiece> pieces;   // modify: in row order
    std::optional<uint64_t> keyHash;    // from the lock element, when it names a key
};

// The element `e` of a record, 4-byte aligned from the record's start; empty when it does not lie
// inside the record.
ByteView RecordElement(const RowLogRecord& record, uint32_t e);

// The key hash that the record's lock element ends with; nullopt when it names no key.
std::optional<uint64_t> LoggedKeyHash(const RowLogRecord& record);

// The changed row's key as an index row, which a modify-row or modify-columns record logs as its
// element 2 (also without a key lock); empty when it logs none.
ByteView LoggedChangeKey(const RowLogRecord& record);

// The change that an insert, delete, modify-row or modify-columns record holds; nullopt when its
// elements do not lie inside it or do not describe a change.
std::optional<LoggedRowChange> ReadLoggedRowChange(const RowLogRecord& record);

// The row before a change from the row after it: every piece's after bytes replaced by its before
// bytes, the bytes between pieces kept. False (and `before` unspecified) when the after bytes are not
// where the change puts them.
bool UndoRowChange(ByteView after, const LoggedRowChange& change, std::vector<uint8_t>& before);

// The row after a change from the row before it; false when the before bytes are not where they belong.
bool RedoRowChange(ByteView before, const LoggedRowChange& change, std::vector<uint8_t>& after);

// The length of an uncompressed data row (fixed part, column count, NULL bitmap, variable part)
// stored at the start of `bytes`; 0 when the bytes do not hold one.
size_t StoredRowLength(ByteView bytes);

}  // namespace kestrane
