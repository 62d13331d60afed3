#pragma once
// A value bound as a statement parameter: plain C++ values that map one to one onto ODBC's C types.
// Nothing here knows the data-file types; the caller picks the kind that keeps its value exact.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestrane {

// The SQL type that a NULL is declared with: the server refuses some implicit conversions even of a
// NULL (nvarchar into varbinary), so a NULL says which family it belongs to.
enum class OdbcKind { Text, Binary, Bit, Integer, Float, Decimal, Date, Time, Timestamp, TimestampOffset, Guid };

struct OdbcNull {
    OdbcKind kind = OdbcKind::Text;
};

// An exact decimal: the unscaled magnitude and the scale (123.45 = magnitude 12345, scale 2).
struct OdbcDecimal {
    bool negative = false;
    unsigned __int128 magnitude = 0;
    uint8_t precision = 38;  // 1..38
    uint8_t scale = 0;       // 0..precision

    // Reads "-123.4500" (sign, digits, one optional point); nullopt for anything else or more than 38
    // digits. Precision is the digit count (at least the scale, at least 1).
    static std::optional<OdbcDecimal> FromText(std::string_view text);
    std::string ToText() const;
};

// money and smallmoney: a count of ten-thousandths, sent as decimal(19,4) / decimal(10,4).
struct OdbcMoney {
    int64_t tenThousandths = 0;
    bool small = false;
};

struct OdbcDate {
    int16_t year = 1900;
    uint16_t month = 1;
    uint16_t day = 1;
};

struct OdbcTime {
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint32_t nanoseconds = 0;
    uint8_t scale = 7;  // fraction digits the column keeps (0..7)
};

// Every date and time kind goes as exact ISO 8601 text, which the server converts into the column.
// datetime2 (scale 0..7); datetime and smalldatetime are sent with scale 3 and 0, which the server
// converts exactly into the column.
struct OdbcTimestamp {
    OdbcDate date;
    OdbcTime time;
};

struct OdbcTimestampOffset {
    OdbcTimestamp local;     // the time as written, in its own zone
    int16_t offsetMinutes = 0;
};

// A uniqueidentifier in the field layout of the server's GUID (and of ODBC's SQLGUID).
struct OdbcGuid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};
};

using OdbcBytes = std::vector<uint8_t>;

using OdbcValue = std::variant<OdbcNull, bool, uint8_t, int16_t, int32_t, int64_t, float, double, OdbcDecimal,
                               OdbcMoney, OdbcDate, OdbcTime, OdbcTimestamp, OdbcTimestampOffset, OdbcGuid,
                               std::wstring, OdbcBytes>;

}  // namespace kestrane
