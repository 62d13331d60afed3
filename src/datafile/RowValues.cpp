#include "datafile/RowValues.h"

#include <algorithm>
#include <cstring>

#include "datafile/ValueText.h"
#include "datafile/XmlValueText.h"
#include "platform/TextCodec.h"

namespace kestrane {

namespace {

constexpr int64_t kDaysTo1900 = 693595;  // day number of 1900-01-01 counted from 0001-01-01
constexpr int32_t kDateTimeTicksPerDay = 300 * 86400;

uint64_t LittleEndian(ByteView bytes, size_t offset, size_t length) {
    uint64_t v = 0;
    for (size_t i = length; i-- > 0;) v = (v << 8) | bytes.getOr<uint8_t>(offset + i, 0);
    return v;
}

bool Civil(int64_t dayNumber, DateTimeParts& out) {
    CivilDateTime t;
    if (!CivilFromDayNumber(dayNumber, t) || t.year > 9999) return false;
    out.year = t.year;
    out.month = t.month;
    out.day = t.day;
    return true;
}

uint64_t PowerOfTen(int n) {
    uint64_t v = 1;
    while (n-- > 0) v *= 10;
    return v;
}

// Ticks of 10^-scale seconds since midnight into the clock fields; false past the day's end.
bool Clock(uint64_t ticks, int scale, DateTimeParts& out) {
    if (scale < 0 || scale > 7) return false;
    const uint64_t perSecond = PowerOfTen(scale);
    const uint64_t seconds = ticks / perSecond;
    if (seconds >= 86400) return false;
    out.hour = static_cast<int>(seconds / 3600);
    out.minute = static_cast<int>(seconds / 60 % 60);
    out.second = static_cast<int>(seconds % 60);
    out.fraction = ticks % perSecond;
    out.fractionDigits = scale;
    return true;
}

// time, datetime2 and datetimeoffset: the tick bytes that a scale stores.
size_t TimeBytes(int scale) { return scale <= 2 ? 3 : scale <= 4 ? 4 : 5; }

// The sql_variant base type id as a type code; false for an id that has none.
bool VariantBase(uint8_t id, uint32_t& code) {
    switch (id) {
        case 36: code = kTypeUniqueIdentifier; return true;
        case 40: code = kTypeDate; return true;
        case 41: code = kTypeTime; return true;
        case 42: code = kTypeDateTime2; return true;
        case 43: code = kTypeDateTimeOffset; return true;
        case 48: code = kTypeTinyInt; return true;
        case 52: code = kTypeSmallInt; return true;
        case 56: code = kTypeInt; return true;
        case 58: code = kTypeSmallDateTime; return true;
        case 59: code = kTypeReal; return true;
        case 60: code = kTypeMoney; return true;
        case 61: code = kTypeDateTime; return true;
        case 62: code = kTypeFloat; return true;
        case 104: code = kTypeBit; return true;
        case 106: code = kTypeDecimal; return true;
        case 108: code = kTypeNumeric; return true;
        case 122: code = kTypeSmallMoney; return true;
        case 127: code = kTypeBigInt; return true;
        case 165: code = kTypeVarBinary; return true;
        case 173: code = kTypeBinary; return true;
        case 167: code = kTypeVarChar; return true;
        case 175: code = kTypeChar; return true;
        case 231: code = kTypeNVarChar; return true;
        case 239: code = kTypeNChar; return true;
        default: return false;
    }
}

size_t FixedSize(uint32_t code) {
    switch (code) {
        case kTypeBigInt: case kTypeMoney: case kTypeFloat: case kTypeDateTime: return 8;
        case kTypeInt: case kTypeSmallMoney: case kTypeReal: case kTypeSmallDateTime: return 4;
        case kTypeSmallInt: return 2;
        case kTypeTinyInt: case kTypeBit: return 1;
        case kTypeDate: return 3;
        case kTypeUniqueIdentifier: return 16;
        default: return 0;
    }
}

// A number stored in fewer bytes than its type reads as if followed by zero bytes.
template <typename T>
std::optional<T> ZeroExtended(ByteView bytes) {
    if (bytes.empty()) return std::nullopt;
    T v{};
    bytes.copy(0, std::min(sizeof(T), bytes.size()), &v);
    return v;
}

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::wstring ScaledText(uint64_t magnitude, bool negative, int decimals) {
    const uint64_t unit = PowerOfTen(decimals);
    std::string text = negative ? "-" : "";
    text += std::to_string(magnitude / unit);
    if (decimals > 0) {
        std::string fraction = std::to_string(magnitude % unit);
        text += "." + std::string(static_cast<size_t>(decimals) - fraction.size(), '0') + fraction;
    }
    return Widen(text);
}

std::wstring MoneyText(int64_t v) {
    const bool negative = v < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    return ScaledText(magnitude, negative, 4);
}

}  // namespace

std::optional<int64_t> Cell::Integer() const {
    if (!IsValue()) return std::nullopt;
    switch (typeCode) {
        case kTypeBigInt: if (auto v = ZeroExtended<int64_t>(bytes)) return *v; break;
        case kTypeInt: if (auto v = ZeroExtended<int32_t>(bytes)) return *v; break;
        case kTypeSmallInt: if (auto v = ZeroExtended<int16_t>(bytes)) return *v; break;
        case kTypeTinyInt: if (auto v = ZeroExtended<uint8_t>(bytes)) return *v; break;
        case kTypeBit: if (auto v = bytes.u8(0)) return *v ? 1 : 0; break;
        default: break;
    }
    return std::nullopt;
}

std::optional<double> Cell::Float() const {
    if (!IsValue()) return std::nullopt;
    if (typeCode == kTypeFloat) {
        if (auto v = ZeroExtended<double>(bytes)) return *v;
    } else if (typeCode == kTypeReal) {
        if (auto v = ZeroExtended<float>(bytes)) return static_cast<double>(*v);
    }
    return std::nullopt;
}

std::optional<std::wstring> Cell::DecimalText() const {
    if (!IsValue()) return std::nullopt;
    switch (typeCode) {
        case kTypeDecimal:
        case kTypeNumeric: {
            std::wstring text = FormatDecimalValue(precision, scale, bytes);
            if (text.empty()) return std::nullopt;
            return text;
        }
        case kTypeMoney:
            if (auto v = bytes.i64(0)) return MoneyText(*v);
            break;
        case kTypeSmallMoney:
            if (auto v = bytes.i32(0)) return MoneyText(*v);
            break;
        default:
            break;
    }
    return std::nullopt;
}

std::optional<DateTimeParts> Cell::DateTime() const {
    if (!IsValue()) return std::nullopt;
    DateTimeParts p;
    switch (typeCode) {
        case kTypeDateTime: {
            auto ticks = bytes.i32(0);
            auto days = bytes.i32(4);
            if (!ticks || !days || *ticks < 0 || *ticks >= kDateTimeTicksPerDay) return std::nullopt;
            if (!Civil(*days + kDaysTo1900, p)) return std::nullopt;
            if (p.year <= 1752) p.year = 1753;  // below the type's range: only a damaged value
            const int32_t seconds = *ticks / 300;
            p.hour = seconds / 3600;
            p.minute = seconds / 60 % 60;
            p.second = seconds % 60;
            // 1/300 s as milliseconds, rounded: the server reads .mmm back to the same tick.
            p.fraction = static_cast<uint64_t>((*ticks % 300) * 10 + 1) / 3;
            p.fractionDigits = 3;
            return p;
        }
        case kTypeSmallDateTime: {
            auto minutes = bytes.i16(0);
            auto days = bytes.u16(2);
            if (!minutes || !days || *minutes < 0 || *minutes >= 1440) return std::nullopt;
            if (!Civil(*days + kDaysTo1900, p)) return std::nullopt;
            p.hour = *minutes / 60;
            p.minute = *minutes % 60;
            return p;
        }
        case kTypeDate:
            if (bytes.size() < 3 || !Civil(static_cast<int64_t>(LittleEndian(bytes, 0, 3)), p)) return std::nullopt;
            return p;
        case kTypeTime: {
            const size_t n = TimeBytes(scale);
            if (bytes.size() < n || !Clock(LittleEndian(bytes, 0, n), scale, p)) return std::nullopt;
            return p;
        }
        case kTypeDateTime2:
        case kTypeDateTimeOffset: {
            const size_t n = TimeBytes(scale);
            const size_t need = n + 3 + (typeCode == kTypeDateTimeOffset ? 2 : 0);
            if (bytes.size() < need || !Clock(LittleEndian(bytes, 0, n), scale, p)) return std::nullopt;
            int64_t day = static_cast<int64_t>(LittleEndian(bytes, n, 3));
            if (typeCode == kTypeDateTimeOffset) {
                // Stored as UTC; shown as the local time of its offset, the day carried.
                const int offset = bytes.getOr<int16_t>(n + 3, 0);
                if (offset < -14 * 60 || offset > 14 * 60) return std::nullopt;
                int minutes = p.hour * 60 + p.minute + offset;
                if (minutes < 0) {
                    minutes += 1440;
                    --day;
                } else if (minutes >= 1440) {
                    minutes -= 1440;
                    ++day;
                }
                p.hour = minutes / 60;
                p.minute = minutes % 60;
                p.offsetMinutes = offset;
            }
            const DateTimeParts clock = p;
            if (!Civil(day, p)) return std::nullopt;
            p.hour = clock.hour;
            p.minute = clock.minute;
            return p;
        }
        default:
            return std::nullopt;
    }
}

std::optional<std::wstring> Cell::WideText() const {
    if (!IsValue()) return std::nullopt;
    if (flags & kCellSideFile) return Utf16LeToWide(bytes);
    switch (typeCode) {
        case kTypeChar: case kTypeVarChar: case kTypeText:
            return CodePageToWide(bytes, codePage);
        case kTypeNChar: case kTypeNVarChar: case kTypeNText:
            return Utf16LeToWide(bytes);
        case kTypeXml:
            return ConvertXmlBinaryToText(bytes);
        default:
            return std::nullopt;
    }
}

std::optional<Cell> Cell::VariantValue() const {
    if (!IsValue() || typeCode != kTypeSqlVariant) return std::nullopt;
    auto base = bytes.u8(0);
    Cell inner = *this;
    if (!base || !VariantBase(*base, inner.typeCode)) return std::nullopt;
    size_t start = 2;
    switch (inner.typeCode) {
        case kTypeDecimal: case kTypeNumeric:
            inner.precision = bytes.getOr<uint8_t>(2, 0);
            inner.scale = bytes.getOr<uint8_t>(3, 0);
            start = 4;
            break;
        case kTypeTime: case kTypeDateTime2: case kTypeDateTimeOffset:
            inner.scale = bytes.getOr<uint8_t>(2, 0);
            start = 3;
            break;
        case kTypeBinary: case kTypeVarBinary:
            start = 4;  // u16 maximum length
            break;
        case kTypeChar: case kTypeVarChar: case kTypeNChar: case kTypeNVarChar:
            start = 8;  // u16 maximum length, u32 collation
            break;
        default:
            break;
    }
    if (bytes.size() < start) return std::nullopt;
    inner.bytes = bytes.from(start);
    const size_t fixed = FixedSize(inner.typeCode);
    if (fixed != 0 && inner.bytes.size() != fixed) return std::nullopt;
    return inner;
}

void RowValues::Reset(size_t columns, int32_t codePage, size_t reserveBytes) {
    const size_t blocks = columns + (reserveBytes + sizeof(CellEntry) - 1) / sizeof(CellEntry);
    heap_.clear();
    if (blocks > kInlineBlocks) heap_.assign(blocks, CellEntry{});
    std::fill_n(this->blocks(), columns, CellEntry{});
    columns_ = columns;
    used_ = 0;
    codePage_ = codePage;
}

Cell RowValues::operator[](size_t column) const {
    const CellEntry& e = blocks()[column];
    Cell cell;
    cell.state = e.state;
    cell.flags = e.flags;
    cell.typeCode = e.typeCode;
    cell.precision = e.precision;
    cell.scale = e.scale;
    cell.bytes = ByteView(arena(), used_).sub(e.offset, e.length);
    cell.codePage = codePage_;
    return cell;
}

void RowValues::Grow(size_t bytes) {
    const size_t need = columns_ + (bytes + sizeof(CellEntry) - 1) / sizeof(CellEntry);
    const size_t size = std::max(need, 2 * capacity());
    if (heap_.empty()) {
        heap_.resize(size);
        std::memcpy(heap_.data(), inline_, columns_ * sizeof(CellEntry) + used_);
    } else {
        heap_.resize(size);
    }
}

bool RowValues::operator==(const RowValues& other) const {
    if (size() != other.size() || codePage_ != other.codePage_) return false;
    for (size_t i = 0; i < size(); ++i) {
        const Cell a = (*this)[i], b = other[i];
        if (a.state != b.state || a.flags != b.flags || a.typeCode != b.typeCode || a.bytes.size() != b.bytes.size())
            return false;
        if (!a.bytes.empty() && std::memcmp(a.bytes.data(), b.bytes.data(), a.bytes.size()) != 0) return false;
    }
    return true;
}

}  // namespace kestrane
