#include "datafile/ValueFormatter.h"

#include <algorithm>
#include <cstring>

#include "datafile/BitReader.h"
#include "datafile/ValueText.h"
#include "datafile/XmlValueText.h"
#include "platform/TextCodec.h"

namespace kestrane {

namespace {

template <typename T>
T ZeroExtended(ByteView value) {
    T v{};
    value.copy(0, std::min(sizeof(T), value.size()), &v);
    return v;
}

std::wstring HexWithPrefix(ByteView value) { return L"0x" + HexText(value); }

std::wstring NarrowOrWide(ByteView value, int32_t codePage) {
    return LooksLikeUtf16(value) ? Utf16TextToFirstZero(value) : AnsiTextToFirstZero(value, codePage);
}

std::wstring BitText(ColumnDescriptor& d, ByteView data) {
    if (d.valueLength <= 0) return L"False";
    if (d.valueLength != 1 || d.bitReader == nullptr) return std::wstring();
    BitReader& reader = *d.bitReader;
    if (reader.bitIndex == 8) reader.loaded = 0;
    if (!reader.loaded) {
        auto byte = data.u8(0);
        if (!byte) return std::wstring();
        reader.SetByte(*byte);
        d.fixedLength = 1;
        d.valueLength = 1;
        d.declaredLength = 1;
    } else {
        d.fixedLength = 0;
        d.valueLength = 1;
        d.declaredLength = 0;
    }
    return reader.NextBit() ? L"True" : L"False";
}

}  // namespace

int32_t ConsumedLength(const ColumnDescriptor& d) {
    if (d.typeCode == kTypeBit) return d.fixedLength;
    return d.valueLength > 0 ? d.valueLength : 0;
}

std::wstring FormatColumnValue(ColumnDescriptor& d, ByteView data, const ColumnDef& def, int32_t codePage) {
    if (data.data() == nullptr) return std::wstring();
    uint32_t declared = ParenthesisedNumber(def.typeText);
    if (d.variable) d.availableLength = d.valueLength;
    if (d.declaredLength == 0) d.declaredLength = declared;
    // Never read past what the caller holds, whatever the descriptor says.
    int64_t available = std::min<int64_t>(d.availableLength, static_cast<int64_t>(data.size()));
    const uint32_t code = d.typeCode;

    int64_t length = d.valueLength;
    size_t skip = 0;
    if (code == kTypeSqlVariant) {
        length -= 8;
        if (length < 1) return std::wstring();
        skip = 8;
    }
    const bool positive = length > 0;
    const bool bounded = positive && length <= available;
    const bool declaredBounded = positive && static_cast<int64_t>(d.declaredLength) <= available;
    // The value's own bytes, clipped to what exists (the stored copy is zero-padded, so a short value
    // reads as if followed by zeros).
    ByteView value = positive ? data.clip(skip, static_cast<size_t>(length)) : ByteView();
    ByteView declaredValue = data.clip(0, d.declaredLength);

    switch (code) {
        case kTypeBigInt:
            return bounded ? std::to_wstring(ZeroExtended<int64_t>(value)) : std::wstring();
        case kTypeBinary:
            return bounded ? HexWithPrefix(value) : std::wstring();
        case kTypeBit:
            return BitText(d, data);
        case kTypeChar:
            return bounded ? AnsiTextToFirstZero(value, codePage) : std::wstring();
        case kTypeDateTime:
            if (!positive || available < 8) return std::wstring();
            d.valueLength = static_cast<int16_t>(d.declaredLength);
            return FormatDateTime(data.sub(0, 8));
        case kTypeDate:
            if (!positive || available < 3) return std::wstring();
            d.valueLength = static_cast<int16_t>(d.declaredLength);
            return FormatDateValue(data.sub(0, 3));
        case kTypeTime:
        case kTypeDateTime2:
        case kTypeDateTimeOffset: {
            if (!declaredBounded) return std::wstring();
            d.valueLength = static_cast<int16_t>(d.declaredLength);
            int len = static_cast<int>(d.declaredLength);
            if (code == kTypeTime) return FormatTimeValue(declaredValue, def.scale, len);
            if (code == kTypeDateTime2) return FormatDateTime2Value(declaredValue, def.scale, len);
            return FormatDateTimeOffsetValue(declaredValue, def.scale, len);
        }
        case kTypeInt:
            return bounded ? std::to_wstring(ZeroExtended<int32_t>(value)) : std::wstring();
        case kTypeNChar:
            return bounded ? Utf16TextToFirstZero(value) : std::wstring();
        case kTypeNVarChar:
            return positive ? Utf16TextToFirstZero(value) : std::wstring();
        case kTypeSmallInt:
            return bounded ? std::to_wstring(ZeroExtended<int16_t>(value)) : std::wstring();
        case kTypeTinyInt:
            return bounded ? std::to_wstring(ZeroExtended<uint8_t>(value)) : std::wstring();
        case kTypeUniqueIdentifier: {
            std::wstring text = bounded ? FormatGuidText(value) : std::wstring();
            d.valueLength = static_cast<int16_t>(d.declaredLength);
            return text;
        }
        case kTypeVarBinary:
            return positive ? HexText(value) : std::wstring();
        case kTypeVarChar:
        case kTypeText:
            return positive ? AnsiTextToFirstZero(value, codePage) : std::wstring();
        case kTypeNText:
        case kTypeSqlVariant:
            return positive ? NarrowOrWide(value, codePage) : std::wstring();
        case kTypeMoney:
            if (!declaredBounded) return std::wstring();
            d.valueLength = static_cast<int16_t>(d.declaredLength);
            return FormatMoneyValue(declaredValue);
        case kTypeFloat:
            return bounded ? FormatFloatText(ZeroExtended<double>(value), true) : std::wstring();
        case kTypeNumeric:
        case kTypeDecimal:
            if (!declaredBounded) return std::wstring();
            d.valueLength = static_cast<int16_t>(d.declaredLength);
            return FormatDecimalValue(def.precision, def.scale, declaredValue);
        case kTypeSmallDateTime:
            if (!positive || available < 4) return std::wstring();
            d.valueLength = static_cast<int16_t>(d.declaredLength);
            return FormatSmallDateTime(data.sub(0, 4));
        case kTypeReal:
            return bounded ? FormatRealText(ZeroExtended<float>(value), true) : std::wstring();
        case kTypeSmallMoney:
            if (!declaredBounded) return std::wstring();
            d.valueLength = static_cast<int16_t>(d.declaredLength);
            return FormatSmallMoneyValue(declaredValue);
        case kTypeTimestamp: {
            std::wstring text = bounded ? HexWithPrefix(value) : std::wstring();
            d.valueLength = static_cast<int16_t>(d.declaredLength);
            return text;
        }
        case kTypeHierarchyId:
            return positive ? HexWithPrefix(value) : std::wstring();
        case kTypeGeometry:
            return positive ? HexText(value) : std::wstring();
        case kTypeGeography:
            return bounded ? HexWithPrefix(value) : std::wstring();
        case kTypeXml: {
            if (!positive) return std::wstring();
            std::wstring text = ConvertXmlBinaryToText(value);
            return text.empty() ? L" " : text;
        }
        default:
            return std::wstring();
    }
}

std::wstring FormatSqlVariantValue(ColumnDescriptor& d, ByteView data, int64_t totalLength, int32_t codePage) {
    d.declaredLength = 0;
    if (data.data() == nullptr || totalLength < 1) return std::wstring();
    // A stored length beyond the bytes held cannot be read.
    const int64_t L = totalLength;
    if (L > static_cast<int64_t>(data.size())) return std::wstring();
    ByteView v = data.sub(0, static_cast<size_t>(L));
    const uint8_t base = v.data()[0];
    auto from = [&](size_t offset) { return v.from(offset); };
    switch (base) {
        case 36: return L == 18 ? FormatGuidText(from(2)) : std::wstring();
        case 40: return L == 5 ? FormatDateValue(from(2)) : std::wstring();
        case 41:
        case 42:
        case 43: {
            if (L < 3) return std::wstring();
            int scale = v.data()[2];
            int len = static_cast<int>(L - 3);
            if (base == 41) return FormatTimeValue(from(3), scale, len);
            if (base == 42) return FormatDateTime2Value(from(3), scale, len);
            return FormatDateTimeOffsetValue(from(3), scale, len);
        }
        case 48: return L == 3 ? std::to_wstring(v.data()[2]) : std::wstring();
        case 52: return L == 4 ? std::to_wstring(*v.i16(2)) : std::wstring();
        case 56: return L == 6 ? std::to_wstring(*v.i32(2)) : std::wstring();
        case 58: return L == 6 ? FormatSmallDateTime(from(2)) : std::wstring();
        case 59: return L == 6 ? FormatRealText(*v.get<float>(2), false) : std::wstring();
        case 60: return L == 10 ? FormatMoneyValue(from(2)) : std::wstring();
        case 61: return L == 10 ? FormatDateTime(from(2)) : std::wstring();
        case 62: return L == 10 ? FormatFloatText(*v.get<double>(2), false) : std::wstring();
        case 104: return L == 3 ? (v.data()[2] ? L"True" : L"False") : std::wstring();
        case 106:
        case 108: return L > 4 ? FormatDecimalValue(v.data()[2], v.data()[3], from(4)) : std::wstring();
        case 122: return L == 6 ? FormatSmallMoneyValue(from(2)) : std::wstring();
        case 127: return L == 10 ? std::to_wstring(*v.i64(2)) : std::wstring();
        case 165:
        case 173: return L > 4 ? AnsiTextToFirstZero(from(4), codePage) : std::wstring();
        case 167:
        case 175: return L > 8 ? AnsiTextToFirstZero(from(8), codePage) : std::wstring();
        case 231:
        case 239: return L > 8 ? Utf16TextToFirstZero(from(8)) : std::wstring();
        case 240: return L > 2 ? HexWithPrefix(from(2)) : std::wstring();
        default: return std::wstring();
    }
}

}  // namespace kestrane
