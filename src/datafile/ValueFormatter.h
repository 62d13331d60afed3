#pragma once
// Cuts the stored bytes of one column value out of a record, by the column's internal type code.
// The caller sets the descriptor's value length and available length before each call; for some
// types the capture writes the declared length back into the value length, which tells the caller
// how many bytes of the fixed part the value took. A value whose bytes do not fit gives nullopt.
#include <cstdint>
#include <optional>

#include "datafile/ColumnDef.h"
#include "platform/ByteReader.h"

namespace kestrane {

// `data` runs from the value's first byte to the end of what the caller holds; the result never
// reaches past it, nor past the descriptor's available length. A bit column gives one byte, 0 or 1.
std::optional<ByteView> CaptureColumnValue(ColumnDescriptor& descriptor, ByteView data, const ColumnDef& def);

// Bytes of the fixed part that the last capture took (0 for a bit that shares a byte).
int32_t ConsumedLength(const ColumnDescriptor& descriptor);

}  // namespace kestrane
