#include "datafile/CellText.h"

#include "datafile/ValueText.h"
#include "platform/LineBreaks.h"
#include "platform/TextCodec.h"

namespace kestrane {

namespace {

void Digits(std::wstring& out, uint64_t value, int width) {
    std::wstring digits = std::to_wstring(value);
    if (static_cast<int>(digits.size()) < width) out.append(static_cast<size_t>(width) - digits.size(), L'0');
    out += digits;
}

bool IsBinaryCode(uint32_t code) {
    switch (code) {
        case kTypeBinary: case kTypeVarBinary: case kTypeImage: case kTypeTimestamp: case kTypeHierarchyId:
        case kTypeGeometry: case kTypeGeography:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::wstring DateTimeText(const DateTimeParts& p, uint32_t typeCode, wchar_t separator) {
    std::wstring date, time;
    Digits(date, static_cast<uint64_t>(p.year), 4);
    date += L'-';
    Digits(date, static_cast<uint64_t>(p.month), 2);
    date += L'-';
    Digits(date, static_cast<uint64_t>(p.day), 2);
    Digits(time, static_cast<uint64_t>(p.hour), 2);
    time += L':';
    Digits(time, static_cast<uint64_t>(p.minute), 2);
    time += L':';
    Digits(time, static_cast<uint64_t>(p.second), 2);
    if (p.fractionDigits > 0) {
        time += L'.';
        Digits(time, p.fraction, p.fractionDigits);
    }
    switch (typeCode) {
        case kTypeDate: return date;
        case kTypeTime: return time;
        case kTypeDateTimeOffset: {
            const int offset = p.offsetMinutes < 0 ? -p.offsetMinutes : p.offsetMinutes;
            std::wstring zone = p.offsetMinutes < 0 ? L"-" : L"+";
            Digits(zone, static_cast<uint64_t>(offset / 60), 2);
            zone += L':';
            Digits(zone, static_cast<uint64_t>(offset % 60), 2);
            return date + separator + time + L' ' + zone;
        }
        default: return date + separator + time;
    }
}

std::wstring CellDisplayText(const Cell& cell) {
    switch (cell.state) {
        case CellState::Null: return L"NULL";
        case CellState::Value: break;
        default: return std::wstring();
    }
    if (cell.flags & kCellSideFile) return cell.WideText().value_or(std::wstring());
    const uint32_t code = cell.typeCode;
    if (IsBinaryCode(code)) return L"0x" + HexText(cell.bytes);
    switch (code) {
        case kTypeBit: return cell.Integer().value_or(0) ? L"True" : L"False";
        case kTypeBigInt: case kTypeInt: case kTypeSmallInt: case kTypeTinyInt: {
            auto v = cell.Integer();
            return v ? std::to_wstring(*v) : std::wstring();
        }
        case kTypeDecimal: case kTypeNumeric: case kTypeMoney: case kTypeSmallMoney:
            return cell.DecimalText().value_or(std::wstring());
        case kTypeFloat: {
            auto v = cell.Float();
            return v ? FormatFloatText(*v, true) : std::wstring();
        }
        case kTypeReal: {
            auto v = cell.Float();
            return v ? FormatRealText(static_cast<float>(*v), false) : std::wstring();
        }
        case kTypeUniqueIdentifier: return FormatGuidText(cell.bytes);
        case kTypeDateTime: case kTypeSmallDateTime: case kTypeDate: case kTypeTime: case kTypeDateTime2:
        case kTypeDateTimeOffset: {
            auto parts = cell.DateTime();
            return parts ? DateTimeText(*parts, code) : std::wstring();
        }
        case kTypeSqlVariant: {
            auto inner = cell.VariantValue();
            return inner ? CellDisplayText(*inner) : std::wstring();
        }
        default:
            return cell.WideText().value_or(std::wstring());
    }
}

std::wstring GridCellText(const Cell& cell) {
    if (cell.state == CellState::Unavailable) return kUnavailableCellText;
    std::wstring text = OneLineText(CellDisplayText(cell), kLineBreakMark);
    const std::wstring_view mark = kUnavailableCellText;
    if (text.size() < mark.size() || (text.size() - mark.size()) % 2 != 0) return text;
    const size_t quotes = (text.size() - mark.size()) / 2;
    for (size_t i = 0; i < quotes; ++i)
        if (text[i] != L'\'' || text[text.size() - 1 - i] != L'\'') return text;
    if (std::wstring_view(text).substr(quotes, mark.size()) != mark) return text;
    return L"'" + text + L"'";
}

}  // namespace kestrane
