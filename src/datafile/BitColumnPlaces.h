#pragma once
// Bit columns share bytes of the fixed part, eight to a byte, least significant bit first. Each bit
// column keeps its own bit whatever the others hold (a NULL bit column keeps its place too): the bit
// the rowset-column record gives, else the column's place among the table's stored bit columns in
// column order (with leaf offsets, among those that share its byte).
#include <cstdint>
#include <vector>

#include "datafile/ColumnDef.h"

namespace kestrane {

// Per column: the bit (0..7) of a stored bit column in its byte; -1 for every other column.
std::vector<int8_t> BitColumnPlaces(const ColumnDefList& columns);

}  // namespace kestrane
