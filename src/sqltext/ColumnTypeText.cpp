#include "sqltext/ColumnTypeText.h"

namespace kestrane {

namespace {

// The length part of a type text: after its first "(" (from the start when it has none) up to its
// first ")" (nothing when it has none).
std::wstring LengthPart(const std::wstring& typeText) {
    size_t open = typeText.find(L'(');
    size_t start = open == std::wstring::npos ? 0 : open + 1;
    size_t close = typeText.find(L')');
    if (close == std::wstring::npos || close < start) return {};
    return typeText.substr(start, close - start);
}

std::wstring TypeText(const ColumnDef& column, const RunState& state, bool script) {
    const std::wstring suffix = column.sparse ? L"  SPARSE" : L"";
    const bool legacy = state.legacyCatalog != 0;
    std::wstring length = LengthPart(column.typeText);
    const int32_t n = LeadingNumber(length);
    // The type text carries a user type's name from the data file: only its number goes into the SQL.
    if (n == -1)
        length = L"max";
    else if (length.empty())
        length = L"8000";
    else
        length = std::to_wstring(n);
    const std::wstring precision = std::to_wstring(column.precision);
    const std::wstring scale = std::to_wstring(column.scale);
    auto exact = [&](const wchar_t* name) {
        if (column.precision > 0 && column.precision < 39 && column.scale < 19)
            return name + precision + L", " + scale + L")" + suffix;
        return L"char(45)" + suffix;
    };

    switch (column.typeCode) {
        case kTypeBigInt: return L"BigInt" + suffix;
        case kTypeBinary: return L"binary(" + length + L")" + suffix;
        case kTypeBit: return L"bit" + suffix;
        case kTypeChar: return L"char(" + length + L")" + suffix;
        case kTypeDateTime: return L"datetime" + suffix;
        case kTypeDate: return L"date" + suffix;
        case kTypeTime: return L"time(" + scale + L")" + suffix;
        case kTypeDateTime2: return L"DateTime2(" + scale + L")" + suffix;
        case kTypeDateTimeOffset: return L"datetimeoffset(" + scale + L")" + suffix;
        case kTypeInt: return L"int" + suffix;
        case kTypeNChar:
            if (n == -1) return L"nchar(" + length + L")" + suffix;
            return L"nchar(" + std::to_wstring(n / 2) + L")" + suffix;
        case kTypeNVarChar:
            if (n == -1) return (legacy ? L"nvarchar(4000)" : L"nvarchar(max)") + suffix;
            return L"nvarchar(" + (n < 4000 ? std::to_wstring(n / 2) : L"4000") + L")" + suffix;
        case kTypeUnused12: return L"";
        case kTypeSmallInt: return L"smallint" + suffix;
        case kTypeTinyInt: return L"tinyint" + suffix;
        case kTypeUniqueIdentifier: return L"uniqueidentifier" + suffix;
        case kTypeVarBinary:
            if (n == -1) return legacy ? L"varbinary(4000)" + suffix : L"varbinary(max)";
            return L"varbinary(" + (n > 8000 ? L"8000" : length) + L")" + suffix;
        case kTypeVarChar:
            if (n == -1) return (legacy ? L"varchar(4000)" : L"varchar(max)") + suffix;
            return L"varchar(" + (n > 8000 ? L"8000" : length) + L")" + suffix;
        case kTypeNText: return L"ntext";
        case kTypeSqlVariant: return L"sql_variant" + suffix;
        case kTypeMoney: return L"money" + suffix;
        case kTypeFloat: return L"float" + suffix;
        case kTypeNumeric: return exact(L"numeric(");
        case kTypeDecimal: return exact(L"decimal(");
        case kTypeImage: return L"image" + suffix;
        case kTypeText: return L"text";
        case kTypeSmallDateTime: return L"smalldatetime" + suffix;
        case kTypeReal: return L"real" + suffix;
        case kTypeSmallMoney: return L"smallmoney" + suffix;
        case kTypeTimestamp: return (script ? L"varbinary(20)" : L"char(22)") + suffix;
        case kTypeHierarchyId: return L"hierarchyid" + suffix;
        case kTypeGeometry: return L"geometry" + suffix;
        case kTypeGeography: return L"geography" + suffix;
        case kTypeXml: return L"xml" + suffix;
        default: return L"text";  // sysname (never arrives) and unknown codes
    }
}

}  // namespace

int32_t LeadingNumber(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += c < 128 ? static_cast<char>(c) : '?';
    return ParseLeadingInt32(narrow);
}

std::wstring ColumnTypeToSql(const ColumnDef& column, const RunState& state) { return TypeText(column, state, false); }

std::wstring ColumnTypeToSqlScript(const ColumnDef& column, const RunState& state) {
    return TypeText(column, state, true);
}

}  // namespace kestrane
