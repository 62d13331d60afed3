#pragma once
// Turns the stored bytes of one column value into its text, by the column's internal type code.
// The caller sets the descriptor's value length and available length before each call; for some
// types the formatter writes the declared length back into the value length, which tells the caller
// how many bytes of the fixed part the value took. 8-bit texts are decoded with `codePage` (the
// database's ANSI code page).
#include <cstdint>
#include <string>

#include "datafile/ColumnDef.h"
#include "platform/ByteReader.h"

namespace kestrane {

// `data` runs from the value's first byte to the end of what the caller holds; reads never go past
// it, nor past the descriptor's available length.
std::wstring FormatColumnValue(ColumnDescriptor& descriptor, ByteView data, const ColumnDef& def, int32_t codePage);

// A stored sql_variant value of `totalLength` bytes: base type id, version byte, then the value.
std::wstring FormatSqlVariantValue(ColumnDescriptor& descriptor, ByteView data, int64_t totalLength, int32_t codePage);

// Bytes of the fixed part that the last FormatColumnValue took (0 for a bit that shares a byte).
int32_t ConsumedLength(const ColumnDescriptor& descriptor);

}  // namespace kestrane
