#include "export/RowParameters.h"

#include <ctime>
#include <string>

#include "platform/TextCodec.h"
#include "sqltext/CreateTableText.h"
#include "sqltext/StandInValue.h"
#include "sqltext/ValueLiteral.h"

namespace kestrane {

namespace {

bool IsExported(const ColumnDef& column) { return column.ordinal != kOrdinalNotStored; }

// The SQL family a NULL of the column is declared with.
OdbcKind KindOf(uint32_t code) {
    switch (code) {
        case kTypeBinary: case kTypeVarBinary: case kTypeImage: case kTypeHierarchyId: case kTypeGeometry:
        case kTypeGeography:
            return OdbcKind::Binary;
        case kTypeBit: return OdbcKind::Bit;
        case kTypeBigInt: case kTypeInt: case kTypeSmallInt: case kTypeTinyInt: return OdbcKind::Integer;
        case kTypeFloat: case kTypeReal: return OdbcKind::Float;
        case kTypeDecimal: case kTypeNumeric: case kTypeMoney: case kTypeSmallMoney: return OdbcKind::Decimal;
        case kTypeDate: return OdbcKind::Date;
        case kTypeTime: return OdbcKind::Time;
        case kTypeDateTime: case kTypeSmallDateTime: case kTypeDateTime2: return OdbcKind::Timestamp;
        case kTypeDateTimeOffset: return OdbcKind::TimestampOffset;
        case kTypeUniqueIdentifier: return OdbcKind::Guid;
        default: return OdbcKind::Text;
    }
}

// Zero in the parameter type the column's values are bound with, so that a stand-in does not make the
// driver prepare the INSERT again.
OdbcValue Zero(uint32_t code, uint8_t precision, uint8_t scale) {
    switch (code) {
        case kTypeBigInt: return int64_t{0};
        case kTypeInt: return int32_t{0};
        case kTypeSmallInt: return int16_t{0};
        case kTypeTinyInt: return uint8_t{0};
        case kTypeMoney: return OdbcMoney{0, false};
        case kTypeSmallMoney: return OdbcMoney{0, true};
        case kTypeFloat: return 0.0;
        case kTypeReal: return 0.0f;
        default: {
            OdbcDecimal d;
            d.precision = precision >= 1 && precision <= 38 ? precision : 38;
            d.scale = scale <= d.precision ? scale : 0;
            return d;
        }
    }
}

bool IsStandInNumber(uint32_t code) {
    switch (code) {
        case kTypeBigInt: case kTypeInt: case kTypeSmallInt: case kTypeTinyInt: case kTypeMoney: case kTypeFloat:
        case kTypeReal: case kTypeSmallMoney:
            return true;
        default:
            return false;
    }
}

bool IsDateCode(uint32_t code) {
    return code == kTypeDateTime || code == kTypeDate || code == kTypeDateTime2 || code == kTypeSmallDateTime;
}

OdbcValue DateValue(uint32_t code, int year, int month, int day) {
    const OdbcDate date{static_cast<int16_t>(year), static_cast<uint16_t>(month), static_cast<uint16_t>(day)};
    if (code == kTypeDate) return date;
    return OdbcTimestamp{date, OdbcTime{0, 0, 0, 0, 0}};
}

// The zero of the column's type, bound as its values are.
OdbcValue ZeroValue(const ColumnDef& column) {
    const uint32_t code = column.typeCode;
    if (IsStandInNumber(code) || code == kTypeNumeric || code == kTypeDecimal)
        return Zero(code, column.precision, column.scale);
    if (IsDateCode(code)) return DateValue(code, 1900, 1, 1);
    switch (code) {
        case kTypeBit: return false;
        case kTypeTime: return OdbcTime{0, 0, 0, 0, 0};
        case kTypeDateTimeOffset: return OdbcTimestampOffset{OdbcTimestamp{OdbcDate{1900, 1, 1}, OdbcTime{0, 0, 0, 0, 0}}, 0};
        case kTypeUniqueIdentifier: return OdbcGuid{};
        case kTypeSqlVariant: return int32_t{0};
        default: break;
    }
    if (KindOf(code) == OdbcKind::Binary) return OdbcBytes{};
    return std::wstring();
}

// A value that the files do not give: the stand-in that the script save writes too; the column's
// default is the parameter left out.
SqlRowValue StandInParameter(const ColumnDef& column, const RunState& state, StandInTally* standIns) {
    if (standIns) standIns->Add(column.name);
    switch (ChooseStandIn(column, state)) {
        case StandIn::Null: return OdbcNull{KindOf(column.typeCode)};
        case StandIn::ColumnDefault: return std::nullopt;
        case StandIn::Zero: return ZeroValue(column);
    }
    return OdbcNull{KindOf(column.typeCode)};
}

uint32_t PowerOfTen(int n) {
    uint32_t p = 1;
    while (n-- > 0) p *= 10;
    return p;
}

std::optional<OdbcValue> DateTimeValue(const Cell& cell) {
    const auto parts = cell.DateTime();
    if (!parts) return std::nullopt;
    const int digits = parts->fractionDigits < 0 ? 0 : parts->fractionDigits > 9 ? 9 : parts->fractionDigits;
    OdbcTime time;
    time.hour = static_cast<uint16_t>(parts->hour);
    time.minute = static_cast<uint16_t>(parts->minute);
    time.second = static_cast<uint16_t>(parts->second);
    time.nanoseconds = static_cast<uint32_t>(parts->fraction) * PowerOfTen(9 - digits);
    time.scale = static_cast<uint8_t>(digits > 7 ? 7 : digits);
    const OdbcDate date{static_cast<int16_t>(parts->year), static_cast<uint16_t>(parts->month),
                        static_cast<uint16_t>(parts->day)};
    switch (cell.typeCode) {
        case kTypeDate: return date;
        case kTypeTime: return time;
        case kTypeDateTimeOffset:
            return OdbcTimestampOffset{OdbcTimestamp{date, time}, static_cast<int16_t>(parts->offsetMinutes)};
        default: return OdbcTimestamp{date, time};
    }
}

std::optional<OdbcValue> DecimalValue(const Cell& cell) {
    if (cell.typeCode == kTypeMoney || cell.typeCode == kTypeSmallMoney) {
        if (cell.typeCode == kTypeSmallMoney) {
            const auto v = cell.bytes.i32(0);
            if (!v) return std::nullopt;
            return OdbcMoney{*v, true};
        }
        const auto v = cell.bytes.i64(0);
        if (!v) return std::nullopt;
        return OdbcMoney{*v, false};
    }
    const auto text = cell.DecimalText();
    if (!text) return std::nullopt;
    auto d = OdbcDecimal::FromText(WideToUtf8(*text));
    if (!d) return std::nullopt;
    // Declared as the column is, so that every row binds the same decimal(p,s).
    if (cell.precision > d->precision && cell.precision <= 38) d->precision = cell.precision;
    return *d;
}

OdbcGuid GuidValue(ByteView bytes) {
    OdbcGuid g;
    g.data1 = bytes.getOr<uint32_t>(0, 0);
    g.data2 = bytes.getOr<uint16_t>(4, 0);
    g.data3 = bytes.getOr<uint16_t>(6, 0);
    for (size_t i = 0; i < 8; ++i) g.data4[i] = bytes.getOr<uint8_t>(8 + i, 0);
    return g;
}

OdbcBytes Bytes(ByteView bytes) { return bytes.empty() ? OdbcBytes{} : OdbcBytes(bytes.data(), bytes.data() + bytes.size()); }

// The parameter of a present value; nullopt when its bytes do not read as its type (damage).
std::optional<OdbcValue> TypedValue(const ColumnDef& column, const Cell& cell, const RunState& state) {
    const uint32_t code = cell.typeCode;
    if (cell.flags & kCellSideFile) return cell.WideText().value_or(std::wstring());
    switch (code) {
        case kTypeBigInt: case kTypeInt: case kTypeSmallInt: case kTypeTinyInt: case kTypeBit: {
            const auto v = cell.Integer();
            if (!v) return std::nullopt;
            switch (code) {
                case kTypeBigInt: return *v;
                case kTypeInt: return static_cast<int32_t>(*v);
                case kTypeSmallInt: return static_cast<int16_t>(*v);
                case kTypeTinyInt: return static_cast<uint8_t>(*v);
                default: return *v != 0;
            }
        }
        case kTypeFloat: case kTypeReal: {
            const auto v = cell.Float();
            if (!v) return std::nullopt;
            if (code == kTypeReal) return static_cast<float>(*v);  // exact: a real read as a double
            return *v;
        }
        case kTypeDecimal: case kTypeNumeric: case kTypeMoney: case kTypeSmallMoney:
            return DecimalValue(cell);
        case kTypeDateTime: case kTypeSmallDateTime: case kTypeDate: case kTypeTime: case kTypeDateTime2:
        case kTypeDateTimeOffset:
            return DateTimeValue(cell);
        case kTypeUniqueIdentifier:
            if (cell.bytes.size() != 16) return std::nullopt;
            return GuidValue(cell.bytes);
        case kTypeChar: case kTypeVarChar: case kTypeText: case kTypeNChar: case kTypeNVarChar: case kTypeNText: {
            Cell cut = cell;
            cut.bytes = CutToColumnLength(column, cell.bytes, state);
            return cut.WideText().value_or(std::wstring());
        }
        case kTypeXml:
            return cell.WideText().value_or(std::wstring());
        case kTypeBinary: case kTypeVarBinary: case kTypeImage: case kTypeHierarchyId: case kTypeGeometry:
        case kTypeGeography:
            return Bytes(CutToColumnLength(column, cell.bytes, state));
        case kTypeTimestamp:
            // The database export re-creates a timestamp column as char(22): its value goes as 0x text.
            return L"0x" + HexText(cell.bytes);
        case kTypeSqlVariant: {
            // The value inside goes with its own base type, whatever its length, so that the column
            // keeps that type; a base type we do not know goes as NULL.
            const auto inner = cell.VariantValue();
            if (!inner || inner->typeCode == kTypeSqlVariant) return OdbcNull{};
            ColumnDef innerColumn;
            innerColumn.typeCode = inner->typeCode;
            innerColumn.typeText = L"x(-1)";
            return TypedValue(innerColumn, *inner, state).value_or(OdbcNull{KindOf(inner->typeCode)});
        }
        case kTypeUnused12:
            return std::wstring();
        default:
            return OdbcNull{};
    }
}

}  // namespace

std::vector<std::wstring> BuildFieldList(const ColumnDefList& columns) {
    const std::vector<std::wstring> names = SqlColumnNames(columns);
    std::vector<std::wstring> fields;
    for (size_t i = 0; i < columns.size(); ++i)
        if (IsExported(columns[i])) fields.push_back(names[i]);
    return fields;
}

OdbcValue ValueTextToVariant(const ColumnDef& column, const Cell& cell, const RunState& state) {
    if (auto value = TypedValue(column, cell, state)) return *value;
    return OdbcNull{KindOf(column.typeCode)};
}

bool FillRowValues(const ColumnDefList& columns, const RowValues& row, const RunState& state,
                   std::vector<SqlRowValue>& values, StandInTally* standIns) {
    values.clear();
    for (size_t i = 0; i < columns.size(); ++i) {
        const ColumnDef& column = columns[i];
        if (!IsExported(column)) continue;
        const Cell cell = i < row.size() ? row[i] : Cell{};
        switch (cell.state) {
            case CellState::Value: {
                auto value = TypedValue(column, cell, state);
                values.push_back(value ? SqlRowValue(std::move(*value)) : StandInParameter(column, state, standIns));
                break;
            }
            case CellState::Null: values.push_back(OdbcNull{KindOf(column.typeCode)}); break;
            case CellState::Unavailable: values.push_back(StandInParameter(column, state, standIns)); break;
            case CellState::Default:
            case CellState::Computed: values.push_back(std::nullopt); break;
        }
    }
    return !values.empty();
}

}  // namespace kestrane
