#pragma once
// The text of a decoded value for reading (the record grid, the oracle checks). Statements and scripts
// do not read these texts: they write literals from the cell itself.
#include <string>

#include "datafile/RowValues.h"

namespace kestrane {

// "NULL" for a NULL, the empty text for a value the files do not give, else the value's text:
// dates at their stored precision (datetime with milliseconds, datetimeoffset as local time with its
// +hh:mm offset), binary values as 0x and hex digits, texts with every stored character.
std::wstring CellDisplayText(const Cell& cell);

// What the record grid shows for a value the files do not give, so that it is never taken for ''.
inline constexpr const wchar_t* kUnavailableCellText = L"<not available>";

// The record grid's text of a cell: CellDisplayText on one line (each line break as kLineBreakMark), but
// kUnavailableCellText for a value the files do not give; a stored text that reads as that mark (within
// any number of quote pairs) gets one more pair of quotes, so that no stored value shows as the mark.
std::wstring GridCellText(const Cell& cell);

// A date or time value of `typeCode` in ISO form; `separator` stands between date and time.
std::wstring DateTimeText(const DateTimeParts& parts, uint32_t typeCode, wchar_t separator = L' ');

}  // namespace kestrane
