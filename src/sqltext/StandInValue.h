#pragma once
// A value the files do not give (an unavailable cell, or stored bytes that do not read as their type)
// still takes a place in a saved row. Both saves put the same stand-in there, chosen by the column.
#include "datafile/ColumnDef.h"
#include "platform/RunState.h"

namespace kestrane {

enum class StandIn {
    Null,           // the column allows NULL
    ColumnDefault,  // NOT NULL, with a default constraint that the save creates: the INSERT leaves it to it
    Zero,           // NOT NULL otherwise: the type's zero ('', 0x, 0, 1900-01-01, the zero GUID, ...)
};

// NULL where the column allows it, otherwise the column's default, otherwise the type's zero. A type
// without a zero (geometry, geography) gets NULL, which the server then refuses for its row alone.
StandIn ChooseStandIn(const ColumnDef& column, const RunState& state);

// The type has a zero value that both saves can write.
bool HasZeroValue(uint32_t typeCode);

}  // namespace kestrane
