#pragma once
// One column value as a T-SQL literal, for the statement view and the INSERT scripts.
#include <string>

#include "datafile/ColumnDef.h"
#include "platform/RunState.h"

namespace kestrane {

// The value text `value` of `column` as a literal followed by ",". Reads the run state's raw-length
// option (0: over-long values are cut to the declared length) and large-values-to-files flag.
std::wstring FormatValueLiteral(const ColumnDef& column, std::wstring value, const RunState& state);

// Today's local date at midnight, "yyyy-mm-dd 00:00:00": the value given to a missing date of a key column.
std::wstring TodayDateText();

}  // namespace kestrane
