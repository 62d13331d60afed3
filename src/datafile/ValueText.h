#pragma once
// Texts of stored column values that need no column definition: dates and times, money, decimal,
// floating-point numbers, GUIDs and hex. Every routine is independent of the process locale and
// returns the empty text for a value it cannot render.
#include <cstdint>
#include <string>

#include "platform/ByteReader.h"
#include "platform/TextCodec.h"

namespace kestrane {

// Calendar fields of a day count since 0001-01-01; false when the count is negative.
struct CivilDateTime {
    int year = 1, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
bool CivilFromDayNumber(int64_t dayNumber, CivilDateTime& out);

// datetime: u32 ticks of 1/300 s, then i32 days since 1900-01-01 ("%Y-%m-%d %X").
std::wstring FormatDateTime(ByteView bytes8);
// The same, month first ("%m/%d/%Y %X").
std::wstring FormatDateTimeMonthFirst(ByteView bytes8);
// smalldatetime: i16 minutes, u16 days since 1900-01-01.
std::wstring FormatSmallDateTime(ByteView bytes4);
// date: u24 days since 0001-01-01 ("%Y-%m-%d").
std::wstring FormatDateValue(ByteView bytes3);
// time(scale): ticks of 10^-scale s in `length` bytes ("%X" and the fraction).
std::wstring FormatTimeValue(ByteView bytes, int scale, int length);
std::wstring FormatDateTime2Value(ByteView bytes, int scale, int length);
std::wstring FormatDateTimeOffsetValue(ByteView bytes, int scale, int length);

// Sign byte (0 = negative) and a little-endian magnitude sized by the precision.
std::wstring FormatDecimalValue(int precision, int scale, ByteView signAndMagnitude);
// Ten-thousandths in an i64 / i32.
std::wstring FormatMoneyValue(ByteView bytes8);
std::wstring FormatSmallMoneyValue(ByteView bytes4);

// An 8-byte double: "%.*f" with 15 - ceil(log10 x) decimals, trailing zeros trimmed. With
// `zeroForNonFinite` the forms of infinities and not-a-number become "0".
std::wstring FormatFloatText(double x, bool zeroForNonFinite);
// A 4-byte float in six significant digits (general notation). With `zeroForTinyOrNonFinite` a
// negative exponent or a non-finite value becomes "0".
std::wstring FormatRealText(float x, bool zeroForTinyOrNonFinite);

// Removes trailing "0" after a decimal point, then a trailing point.
void TrimTrailingZeros(std::string& numberText);

// 16 bytes as XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX (first three groups little-endian).
std::wstring FormatGuidText(ByteView bytes16);

// True when exactly size/2 (integer division) of the bytes are zero.
bool LooksLikeUtf16(ByteView bytes);

// Text up to the first zero byte / zero code unit.
std::wstring AnsiTextToFirstZero(ByteView bytes, int codePage);
std::wstring Utf16TextToFirstZero(ByteView bytes);

}  // namespace kestrane
