#include "sqltext/ValueLiteral.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "datafile/CellText.h"
#include "platform/TextCodec.h"
#include "sqltext/ColumnTypeText.h"
#include "sqltext/SqlNames.h"
#include "sqltext/StandInTally.h"
#include "sqltext/StandInValue.h"

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

bool IsUnicodeCode(uint32_t code) {
    return code == kTypeNChar || code == kTypeNVarChar || code == kTypeNText || code == kTypeXml;
}

bool IsBinaryCode(uint32_t code) {
    return code == kTypeBinary || code == kTypeVarBinary || code == kTypeImage || code == kTypeTimestamp;
}

// The column's length in the units its values are cut in; -1 for max (no cut).
int64_t ColumnLength(const ColumnDef& column) {
    const size_t open = column.typeText.find(L'(');
    const size_t close = column.typeText.find(L')');
    if (open == std::wstring::npos || close == std::wstring::npos || close < open) return 8000;
    const int32_t n = LeadingNumber(column.typeText.substr(open + 1, close - open - 1));
    if (n == -1) return -1;
    return column.typeCode == kTypeNVarChar ? n / 2 : n;  // nvarchar lengths are stored in bytes
}

// Characters a literal may not hold as they are: a line break would let a script line (which sqlcmd may
// act on) start inside the literal, and a NUL cuts the text short on its way down some drivers.
bool IsLiteralBreak(wchar_t c, bool unicode) {
    return c == L'\0' || c == L'\r' || c == L'\n' || (unicode && (c == 0x85 || c == 0x2028 || c == 0x2029));
}

// A quoted text; "'" doubled, "$(" split so that sqlcmd does not take it for a variable, and each break
// character (above) written as CHAR(n) or NCHAR(n) between the pieces. Joined pieces of a non-max type
// are cut at 8000 bytes, so a long split text starts from an empty max text.
std::wstring Quoted(const std::wstring& text, bool unicode) {
    const std::wstring open = unicode ? L"N'" : L"'";
    const std::wstring character = unicode ? L"NCHAR(" : L"CHAR(";
    std::vector<std::wstring> pieces;
    std::wstring current;
    const auto endPiece = [&] {
        pieces.push_back(open + current + L"'");
        current.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (IsLiteralBreak(c, unicode)) {
            if (!current.empty()) endPiece();
            pieces.push_back(character + std::to_wstring(static_cast<uint32_t>(c)) + L")");
            continue;
        }
        current += c;
        if (c == L'\'') current += L'\'';
        if (c == L'$' && i + 1 < text.size() && text[i + 1] == L'(') endPiece();
    }
    if (!current.empty() || pieces.empty()) endPiece();
    std::wstring out = pieces.size() > 1 && text.size() > 4000 ? L"CAST(" + open + L"' AS " +
                                                                     (unicode ? L"nvarchar" : L"varchar") + L"(max))+"
                                                               : std::wstring();
    for (size_t i = 0; i < pieces.size(); ++i) out += (i ? L"+" : L"") + pieces[i];
    return out;
}

std::wstring ShortestText(double x) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
    return std::wstring(buf, r.ptr);
}

// A value longer than its column is cut to the column's length (only while the raw-length option is 0).
ByteView CutToColumn(const ColumnDef& column, ByteView bytes, const RunState& state) {
    if (state.rawLengthOption != 0) return bytes;
    const int64_t n = ColumnLength(column);
    if (n < 0) return bytes;
    switch (column.typeCode) {
        case kTypeVarChar:
        case kTypeVarBinary:
        case kTypeTimestamp:
            return bytes.size() > static_cast<size_t>(n) ? bytes.sub(0, static_cast<size_t>(n)) : bytes;
        case kTypeNVarChar: {
            size_t keep = static_cast<size_t>(n) * 2;
            if (bytes.size() <= keep) return bytes;
            // Never half of a surrogate pair.
            const uint16_t last = keep >= 2 ? bytes.getOr<uint16_t>(keep - 2, 0) : 0;
            if (last >= 0xD800 && last <= 0xDBFF) keep -= 2;
            return bytes.sub(0, keep);
        }
        default:
            return bytes;
    }
}

// The type a sql_variant's value is cast back to.
std::wstring VariantTypeName(const Cell& inner) {
    const std::wstring p = std::to_wstring(inner.precision), s = std::to_wstring(inner.scale);
    const std::wstring n = std::to_wstring(std::max<size_t>(1, inner.bytes.size()));
    const std::wstring nChars = std::to_wstring(std::max<size_t>(1, inner.bytes.size() / 2));
    switch (inner.typeCode) {
        case kTypeBigInt: return L"bigint";
        case kTypeInt: return L"int";
        case kTypeSmallInt: return L"smallint";
        case kTypeTinyInt: return L"tinyint";
        case kTypeBit: return L"bit";
        case kTypeFloat: return L"float";
        case kTypeReal: return L"real";
        case kTypeMoney: return L"money";
        case kTypeSmallMoney: return L"smallmoney";
        case kTypeDecimal: return L"decimal(" + p + L"," + s + L")";
        case kTypeNumeric: return L"numeric(" + p + L"," + s + L")";
        case kTypeDateTime: return L"datetime";
        case kTypeSmallDateTime: return L"smalldatetime";
        case kTypeDate: return L"date";
        case kTypeTime: return L"time(" + s + L")";
        case kTypeDateTime2: return L"datetime2(" + s + L")";
        case kTypeDateTimeOffset: return L"datetimeoffset(" + s + L")";
        case kTypeUniqueIdentifier: return L"uniqueidentifier";
        case kTypeBinary: return L"binary(" + n + L")";
        case kTypeVarBinary: return L"varbinary(" + n + L")";
        case kTypeChar: return L"char(" + n + L")";
        case kTypeVarChar: return L"varchar(" + n + L")";
        case kTypeNChar: return L"nchar(" + nChars + L")";
        case kTypeNVarChar: return L"nvarchar(" + nChars + L")";
        default: return L"sql_variant";
    }
}

// The zero of the column's type, in the forms the other literals use.
std::wstring ZeroLiteral(const ColumnDef& column) {
    const uint32_t code = column.typeCode;
    if (IsNumericCode(code) || code == kTypeBit || code == kTypeSqlVariant) return L"0";
    if (IsBinaryCode(code)) return L"0x";
    switch (code) {
        case kTypeChar: case kTypeVarChar: case kTypeText: return L"''";
        case kTypeNChar: case kTypeNVarChar: case kTypeNText: case kTypeXml: return L"N''";
        case kTypeDateTime: case kTypeSmallDateTime: return L"'1900-01-01T00:00:00'";
        case kTypeDate: return L"'1900-01-01'";
        case kTypeDateTime2: return L"'1900-01-01 00:00:00'";
        case kTypeTime: return L"'00:00:00'";
        case kTypeDateTimeOffset: return L"'1900-01-01 00:00:00 +00:00'";
        case kTypeUniqueIdentifier: return L"'00000000-0000-0000-0000-000000000000'";
        case kTypeHierarchyId: return L"CAST(0x AS hierarchyid)";
        default: return L"NULL";
    }
}

// A value that the files do not give: the stand-in that the database save writes too.
std::wstring StandInLiteral(const ColumnDef& column, const RunState& state, StandInTally* standIns) {
    if (standIns) standIns->Add(column.name);
    switch (ChooseStandIn(column, state)) {
        case StandIn::Null: return L"NULL";
        case StandIn::ColumnDefault: return L"DEFAULT";
        case StandIn::Zero: return ZeroLiteral(column);
    }
    return L"NULL";
}

std::wstring TypedLiteral(const ColumnDef& column, const Cell& cell, const RunState& state, StandInTally* standIns) {
    const uint32_t code = cell.typeCode;
    if (cell.flags & kCellSideFile) {
        const std::wstring reference = cell.WideText().value_or(std::wstring());
        // BULK takes one literal, never pieces joined with "+"; the folder names hold no "$(" for
        // sqlcmd to take (ScriptFolderNames).
        if (state.blobsToFiles == 1)
            return L"(Select * from OPENROWSET(BULK N'$(DIR)" + EscapeQuotedText(reference) +
                   L"',SINGLE_BLOB) as Image)";
        return Quoted(reference, true);
    }
    switch (code) {
        case kTypeBigInt: case kTypeInt: case kTypeSmallInt: case kTypeTinyInt: {
            auto v = cell.Integer();
            return v ? std::to_wstring(*v) : StandInLiteral(column, state, standIns);
        }
        case kTypeBit: return cell.Integer().value_or(0) ? L"'True'" : L"'False'";
        case kTypeDecimal: case kTypeNumeric: case kTypeMoney: case kTypeSmallMoney: {
            auto v = cell.DecimalText();
            return v ? *v : StandInLiteral(column, state, standIns);
        }
        case kTypeFloat: case kTypeReal: {
            // Every digit the double needs; a real is exact as a double too.
            auto v = cell.Float();
            return v && std::isfinite(*v) ? ShortestText(*v) : StandInLiteral(column, state, standIns);
        }
        case kTypeChar: case kTypeVarChar: case kTypeText:
        case kTypeNChar: case kTypeNVarChar: case kTypeNText: {
            Cell cut = cell;
            cut.bytes = CutToColumn(column, cell.bytes, state);
            return Quoted(cut.WideText().value_or(std::wstring()), IsUnicodeCode(code));
        }
        case kTypeXml: return Quoted(cell.WideText().value_or(std::wstring()), true);
        case kTypeUniqueIdentifier: {
            const std::wstring text = CellDisplayText(cell);
            return text.empty() ? StandInLiteral(column, state, standIns) : L"'" + text + L"'";
        }
        case kTypeDateTime: case kTypeSmallDateTime: case kTypeDate: case kTypeTime: case kTypeDateTime2:
        case kTypeDateTimeOffset: {
            auto parts = cell.DateTime();
            if (!parts) return StandInLiteral(column, state, standIns);
            // "T": datetime and smalldatetime read yyyy-mm-dd hh:mm:ss by the language's date order.
            const bool older = code == kTypeDateTime || code == kTypeSmallDateTime;
            return L"'" + DateTimeText(*parts, code, older ? L'T' : L' ') + L"'";
        }
        case kTypeBinary: case kTypeVarBinary: case kTypeImage: case kTypeTimestamp:
            return L"0x" + HexText(CutToColumn(column, cell.bytes, state));
        case kTypeHierarchyId: return L"CAST(0x" + HexText(cell.bytes) + L" AS hierarchyid)";
        case kTypeGeometry: return L"CAST(0x" + HexText(cell.bytes) + L" AS geometry)";
        case kTypeGeography: return L"CAST(0x" + HexText(cell.bytes) + L" AS geography)";
        case kTypeSqlVariant: {
            auto inner = cell.VariantValue();
            if (!inner) return L"NULL";
            ColumnDef innerColumn;
            innerColumn.typeCode = inner->typeCode;
            innerColumn.typeText = L"x(-1)";
            innerColumn.name = column.name;
            return L"CAST(" + TypedLiteral(innerColumn, *inner, state, standIns) + L" AS " + VariantTypeName(*inner) + L")";
        }
        default:
            return L"NULL";
    }
}

}  // namespace

std::wstring ValueLiteral(const ColumnDef& column, const Cell& cell, const RunState& state, StandInTally* standIns) {
    switch (cell.state) {
        case CellState::Value: return TypedLiteral(column, cell, state, standIns);
        case CellState::Null: return L"NULL";
        case CellState::Unavailable: return StandInLiteral(column, state, standIns);
        case CellState::Default:
        case CellState::Computed: return L"DEFAULT";
    }
    return L"NULL";
}

ByteView CutToColumnLength(const ColumnDef& column, ByteView bytes, const RunState& state) {
    return CutToColumn(column, bytes, state);
}

std::wstring FormatValueLiteral(const ColumnDef& column, const Cell& cell, const RunState& state) {
    return ValueLiteral(column, cell, state) + L",";
}

}  // namespace kestrane
