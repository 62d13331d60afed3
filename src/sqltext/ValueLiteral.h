#pragma once
// One decoded value as a T-SQL literal, for the statements and the INSERT scripts. The literal gives
// the server back the value the file holds: texts whole (blanks and every character kept; N'' for
// Unicode), binary values as 0x..., floating-point numbers with every digit they need, dates and times
// at their stored precision in forms that read the same under every language setting. A text literal
// holds no line break and no NUL as such (they are joined in as CHAR(n)/NCHAR(n)), so that no script
// line begins inside it and no driver cuts it short.
#include <string>

#include "datafile/ColumnDef.h"
#include "datafile/RowValues.h"
#include "platform/RunState.h"
#include "sqltext/StandInTally.h"

namespace kestrane {

// The literal of `cell` in `column`, without a separator. Reads the run state's raw-length option (0:
// a value longer than its column is cut to the column's length) and large-values-to-files flag. A value
// the files do not give becomes the column's stand-in, counted in `standIns` when given.
std::wstring ValueLiteral(const ColumnDef& column, const Cell& cell, const RunState& state,
                          StandInTally* standIns = nullptr);

// The same followed by ",".
std::wstring FormatValueLiteral(const ColumnDef& column, const Cell& cell, const RunState& state);

// The stored bytes of a value, cut to its column's length when longer (varchar and varbinary: bytes,
// nvarchar: whole UTF-16 units); only damage makes a value longer. Uncut while the raw-length option is on.
ByteView CutToColumnLength(const ColumnDef& column, ByteView bytes, const RunState& state);

}  // namespace kestrane
