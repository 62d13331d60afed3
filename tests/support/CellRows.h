#pragma once
// Rows of typed cells built from short texts, for tests of the statement and script writers.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "datafile/ColumnDef.h"
#include "datafile/RowValues.h"
#include "platform/TextCodec.h"

namespace kestrane::test {

inline void AppendLe(std::vector<uint8_t>& out, uint64_t v, size_t n) {
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The stored bytes of `text` as a value of `column`'s type: integers and bit ("True"/"False" or a
// number), money and decimal ("-12.34"), float and real, 8-bit texts (code page 1252), Unicode
// texts (UTF-16LE), binary types as "0x..." and datetime as "yyyy-mm-dd hh:mm:ss.mmm".
inline std::vector<uint8_t> StoredBytes(const ColumnDef& column, const std::wstring& text) {
    std::vector<uint8_t> out;
    const std::string narrow = WideToUtf8(text);
    auto scaled = [&](int scale) {
        const bool negative = !narrow.empty() && narrow[0] == '-';
        std::string digits;
        int decimals = -1;
        for (char c : narrow) {
            if (c == '.') decimals = 0;
            else if (c >= '0' && c <= '9') {
                digits += c;
                if (decimals >= 0) ++decimals;
            }
        }
        for (int i = std::max(decimals, 0); i < scale; ++i) digits += '0';
        const uint64_t magnitude = digits.empty() ? 0 : std::stoull(digits);
        return std::pair<bool, uint64_t>(negative, magnitude);
    };
    switch (column.typeCode) {
        case kTypeBigInt: AppendLe(out, static_cast<uint64_t>(std::stoll(narrow)), 8); break;
        case kTypeInt: AppendLe(out, static_cast<uint64_t>(std::stoll(narrow)), 4); break;
        case kTypeSmallInt: AppendLe(out, static_cast<uint64_t>(std::stoll(narrow)), 2); break;
        case kTypeTinyInt: AppendLe(out, static_cast<uint64_t>(std::stoll(narrow)), 1); break;
        case kTypeBit: out.push_back(text == L"True" || text == L"1" ? 1 : 0); break;
        case kTypeMoney: case kTypeSmallMoney: {
            auto [negative, magnitude] = scaled(4);
            const int64_t v = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
            AppendLe(out, static_cast<uint64_t>(v), column.typeCode == kTypeMoney ? 8 : 4);
            break;
        }
        case kTypeDecimal: case kTypeNumeric: {
            auto [negative, magnitude] = scaled(column.scale);
            out.push_back(negative ? 0 : 1);
            AppendLe(out, magnitude, 8);
            const size_t width = column.precision < 10 ? 4 : column.precision < 20 ? 8 : column.precision < 29 ? 12 : 16;
            out.resize(1 + width, 0);
            break;
        }
        case kTypeFloat: {
            const double d = std::stod(narrow);
            out.resize(8);
            std::memcpy(out.data(), &d, 8);
            break;
        }
        case kTypeReal: {
            const float f = std::stof(narrow);
            out.resize(4);
            std::memcpy(out.data(), &f, 4);
            break;
        }
        case kTypeNChar: case kTypeNVarChar: case kTypeNText: out = WideToUtf16Le(text); break;
        case kTypeBinary: case kTypeVarBinary: case kTypeImage: case kTypeTimestamp: case kTypeGeography:
        case kTypeGeometry: case kTypeHierarchyId:
            for (size_t i = 2; i + 1 < narrow.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(narrow.substr(i, 2), nullptr, 16)));
            break;
        case kTypeDateTime: {
            // Days since 1900-01-01 and 1/300 s ticks, from the civil fields.
            int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
            std::sscanf(narrow.c_str(), "%d-%d-%d %d:%d:%d.%d", &y, &mo, &d, &h, &mi, &s, &ms);
            auto daysFromCivil = [](int yy, int mm, int dd) {
                yy -= mm <= 2;
                const int era = (yy >= 0 ? yy : yy - 399) / 400;
                const int yoe = yy - era * 400;
                const int doy = (153 * (mm + (mm > 2 ? -3 : 9)) + 2) / 5 + dd - 1;
                const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
                return era * 146097 + doe - 719468;
            };
            const int32_t days = daysFromCivil(y, mo, d) - daysFromCivil(1900, 1, 1);
            const int32_t ticks = (h * 3600 + mi * 60 + s) * 300 + (ms * 3 + 5) / 10;
            AppendLe(out, static_cast<uint32_t>(ticks), 4);
            AppendLe(out, static_cast<uint32_t>(days), 4);
            break;
        }
        default: {
            const std::string bytes = WideToCodePage(text, 1252);
            out.assign(bytes.begin(), bytes.end());
            break;
        }
    }
    return out;
}

// A row of `columns`: each value a text as above, or NULL for nullopt.
inline RowValues RowOf(const ColumnDefList& columns, const std::vector<std::optional<std::wstring>>& values) {
    RowValues row(columns.size(), 1252);
    for (size_t i = 0; i < columns.size() && i < values.size(); ++i) {
        if (!values[i]) row.SetState(i, columns[i], CellState::Null);
        else row.SetValue(i, columns[i], ByteView(StoredBytes(columns[i], *values[i])));
    }
    return row;
}

}  // namespace kestrane::test
