#pragma once
// The T-SQL type of a column, as the two exports re-create it from the catalogue's type text.
#include <string>

#include "datafile/ColumnDef.h"
#include "platform/RunState.h"

namespace kestrane {

// Type text for the database export (timestamp becomes "char(22)").
std::wstring ColumnTypeToSql(const ColumnDef& column, const RunState& state);
// Type text for the script export (timestamp becomes "varbinary(20)").
std::wstring ColumnTypeToSqlScript(const ColumnDef& column, const RunState& state);

// The number at the start of a text, read as the C runtime's atoi reads it (0 when there is none).
int32_t LeadingNumber(const std::wstring& text);

}  // namespace kestrane
