#include "sqltext/ValueLiteral.h"

#include <ctime>

#include "sqltext/ColumnTypeText.h"

namespace kestrane {

namespace {

bool IsNumericCode(uint32_t code) {
    switch (code) {
        case kTypeBigInt: case kTypeInt: case kTypeSmallInt: case kTypeTinyInt: case kTypeMoney:
        case kTypeFloat: case kTypeNumeric: case kTypeDecimal: case kTypeReal: case kTypeSmallMoney:
            return true;
        default:
            return false;
    }
}

// The text between the first "(" and the first ")" of a type text; "" when there is no such part.
std::wstring Parenthesised(const std::wstring& typeText) {
    size_t open = typeText.find(L'(');
    size_t close = typeText.find(L')');
    if (open == std::wstring::npos || close == std::wstring::npos || close < open) return {};
    return typeText.substr(open + 1, close - open - 1);
}

bool IsBlank(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

std::wstring TwoDigits(int n) { return (n < 10 ? L"0" : L"") + std::to_wstring(n); }

}  // namespace

std::wstring TodayDateText() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return std::to_wstring(local.tm_year + 1900) + L"-" + TwoDigits(local.tm_mon + 1) + L"-" + TwoDigits(local.tm_mday) +
           L" 00:00:00";
}

std::wstring FormatValueLiteral(const ColumnDef& column, std::wstring v, const RunState& state) {
    uint32_t code = column.typeCode == kTypeTimestamp ? kTypeVarBinary : column.typeCode;

    // Quotes doubled first, so that the cut below sees the text as written.
    for (size_t at = v.find(L'\''); at != std::wstring::npos; at = v.find(L'\'', at + 2)) v.insert(at, 1, L'\'');
    size_t first = 0, last = v.size();
    while (first < last && IsBlank(v[first])) ++first;
    while (last > first && IsBlank(v[last - 1])) --last;
    v = v.substr(first, last - first);

    std::wstring length = Parenthesised(column.typeText);
    if (LeadingNumber(length) == -1)
        length = L"max";
    else if (length.empty())
        length = L"8000";

    if (state.rawLengthOption == 0 && length != L"max") {
        const int64_t n = std::max<int64_t>(0, LeadingNumber(length));
        if (code == kTypeVarBinary) {
            const size_t limit = static_cast<size_t>(2 * n + 2);  // "0x" and two hex digits a byte
            if (v.size() > limit) v.resize(limit);
        } else if ((code == kTypeNVarChar || code == kTypeVarChar || code == kTypeSqlVariant) && v != L"NULL" &&
                   v.size() > static_cast<size_t>(n)) {
            v.resize(static_cast<size_t>(n));
            while (!v.empty() && v.back() == L'\'') v.pop_back();  // no half of a doubled quote
        }
    }

    if (code == kTypeFloat && !v.empty() && column.typeText.find(L')') != std::wstring::npos) {
        const int64_t p = std::max<int32_t>(0, LeadingNumber(Parenthesised(column.typeText)));
        size_t dot = v.find(L'.');
        // Only decimals are cut: cutting digits before the point would change the value's magnitude.
        if (dot != std::wstring::npos && v.size() - dot - 1 > static_cast<size_t>(p)) v.resize(dot + 1 + p);
    }

    if (v == L"NULL" || v.empty()) {
        const bool isNull = !v.empty();
        if (column.keyFlag == 0) {
            if (isNull) return L"NULL,";
            if (IsNumericCode(code))
                v = L"0";
            else if (code == kTypeBinary)
                return L"CONVERT(binary,' '),";
            else if (code == kTypeVarBinary)
                return L"CONVERT(varbinary,' '),";
            else
                return L"'',";
        } else if (IsNumericCode(code)) {
            v = L"0";
        } else if (code == kTypeDateTime || code == kTypeDate || code == kTypeDateTime2 || code == kTypeSmallDateTime) {
            v = TodayDateText();
        } else if (code == kTypeUniqueIdentifier) {
            v = L"00000000-0000-0000-0000-000000000000";
        } else {
            v.clear();
        }
    }

    if (code == kTypeImage) code = kTypeVarBinary;
    if (IsNumericCode(code)) return v + L",";
    switch (code) {
        case kTypeBit: case kTypeChar: case kTypeNChar: case kTypeNVarChar: case kTypeUniqueIdentifier:
        case kTypeVarChar: case kTypeNText: case kTypeText: case kTypeXml:
        case kTypeDateTime: case kTypeDate: case kTypeTime: case kTypeDateTime2: case kTypeDateTimeOffset:
        case kTypeSmallDateTime:
            return L"'" + v + L"',";
        case kTypeBinary:
        case kTypeVarBinary:
            if (state.blobsToFiles == 1 && v.find(L'\\') != std::wstring::npos)
                return L"(Select * from OPENROWSET(BULK N'$(DIR)" + v + L"',SINGLE_BLOB) as Image),";
            if (v.empty()) return code == kTypeBinary ? L"CONVERT(binary,' ')," : L"CONVERT(varbinary,' '),";
            return v + L",";
        case kTypeSqlVariant:
            if (v.empty()) return L"CONVERT(varchar,''),";
            return L"CONVERT(varchar,'" + v + L"'),";
        case kTypeUnused12:
        case kTypeHierarchyId:
            return L"DEFAULT,";
        default:  // sysname, geometry, geography and unknown codes
            return L"NULL,";
    }
}

}  // namespace kestrane
