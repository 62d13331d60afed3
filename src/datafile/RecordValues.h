#pragma once
// Small value types that records, record pages and the value decoders share.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ByteReader.h"

namespace kestrane {

// One variable (FixedVar) or long (CD) column value of a record, or one sparse-column value. `data`
// lies in the record's row bytes (see CRecord::rowCopy) or in `owned`; an empty `data` means the value
// has no bytes: an empty value when `length` is 0, a refused (damaged) one otherwise.
struct ColumnValue {
    int32_t columnId = -1;  // sparse column id; -1 for an ordinary column
    ByteView data;
    std::vector<uint8_t> owned;  // bytes of the value's own (expanded CD values, sparse entries)
    uint32_t length = 0;
    uint8_t complex = 0;
    uint8_t spare = 0;

    ColumnValue() = default;
    // Moving keeps `data` valid: a moved vector keeps its buffer. A copy would not, so there is none.
    ColumnValue(ColumnValue&&) noexcept = default;
    ColumnValue& operator=(ColumnValue&&) noexcept = default;
    ColumnValue(const ColumnValue&) = delete;
    ColumnValue& operator=(const ColumnValue&) = delete;

    bool hasData() const { return !data.empty(); }
    const uint8_t* bytes() const { return data.empty() ? nullptr : data.data(); }
    // Takes `bytes` as the value's own.
    void Own(ByteView bytes) {
        owned.assign(bytes.data(), bytes.data() + bytes.size());
        data = ByteView(owned);
    }
    // Forgets the bytes (a value is handed out once).
    void Release() {
        data = ByteView();
        if (owned.capacity() == 0) return;
        owned.clear();
        owned.shrink_to_fit();
    }
};

// A value of the page-compression anchor, a dictionary entry, or a collected large-value piece.
// Length -2 marks a NULL anchor column, -1 an empty one (both without data).
struct ColumnData {
    std::vector<uint8_t> data;
    int32_t length = 0;

    bool hasData() const { return !data.empty(); }
};

// One entry of a variable-offset or long-offset array: low 15 bits of the stored u16, and bit 15.
struct VarColumnOffset {
    uint16_t endOffset = 0;
    uint8_t complex = 0;
};

// Per-column result of CD decompression.
struct CdColumnDescriptor {
    uint8_t isNull = 0;
    int32_t length = 0;
};

}  // namespace kestrane
