#include "datafile/ValueFormatter.h"

#include <algorithm>

#include "datafile/BitReader.h"

namespace kestrane {

namespace {

constexpr uint8_t kBitBytes[2] = {0, 1};

std::optional<ByteView> BitValue(ColumnDescriptor& d, ByteView data) {
    if (d.valueLength <= 0) return ByteView(kBitBytes, 1);
    if (d.valueLength != 1 || d.bitReader == nullptr) return std::nullopt;
    BitReader& reader = *d.bitReader;
    if (reader.bitIndex == 8) reader.loaded = 0;
    if (!reader.loaded) {
        auto byte = data.u8(0);
        if (!byte) return std::nullopt;
        reader.SetByte(*byte);
        d.fixedLength = 1;
        d.valueLength = 1;
        d.declaredLength = 1;
    } else {
        d.fixedLength = 0;
        d.valueLength = 1;
        d.declaredLength = 0;
    }
    return ByteView(kBitBytes + (reader.NextBit() ? 1 : 0), 1);
}

}  // namespace

int32_t ConsumedLength(const ColumnDescriptor& d) {
    if (d.typeCode == kTypeBit) return d.fixedLength;
    return d.valueLength > 0 ? d.valueLength : 0;
}

std::optional<ByteView> CaptureColumnValue(ColumnDescriptor& d, ByteView data, const ColumnDef& def) {
    if (data.data() == nullptr) return std::nullopt;
    if (d.variable) d.availableLength = d.valueLength;
    if (d.declaredLength == 0) d.declaredLength = ParenthesisedNumber(def.typeText);
    // Never read past what the caller holds, whatever the descriptor says.
    const int64_t available = std::min<int64_t>(d.availableLength, static_cast<int64_t>(data.size()));
    const int64_t length = d.valueLength;
    const bool positive = length > 0;
    const bool bounded = positive && length <= available;
    const bool declaredBounded = positive && static_cast<int64_t>(d.declaredLength) <= available;
    const ByteView value = positive ? data.clip(0, static_cast<size_t>(length)) : ByteView();
    const ByteView declaredValue = data.clip(0, d.declaredLength);
    // Types whose stored size the declared length gives; the caller advances by it.
    auto declaredSized = [&](std::optional<ByteView> v) {
        d.valueLength = static_cast<int16_t>(d.declaredLength);
        return v;
    };
    const std::optional<ByteView> none;

    switch (d.typeCode) {
        case kTypeBigInt: case kTypeBinary: case kTypeChar: case kTypeInt: case kTypeNChar: case kTypeSmallInt:
        case kTypeTinyInt: case kTypeFloat: case kTypeReal: case kTypeGeography:
            return bounded ? std::optional<ByteView>(value) : none;
        case kTypeBit:
            return BitValue(d, data);
        case kTypeDateTime:
            return positive && available >= 8 ? declaredSized(data.sub(0, 8)) : none;
        case kTypeDate:
            return positive && available >= 3 ? declaredSized(data.sub(0, 3)) : none;
        case kTypeSmallDateTime:
            return positive && available >= 4 ? declaredSized(data.sub(0, 4)) : none;
        case kTypeTime: case kTypeDateTime2: case kTypeDateTimeOffset: case kTypeMoney: case kTypeSmallMoney:
        case kTypeNumeric: case kTypeDecimal:
            return declaredBounded ? declaredSized(declaredValue) : none;
        case kTypeUniqueIdentifier: case kTypeTimestamp:
            // The declared length is taken whether or not the value fits.
            return declaredSized(bounded ? std::optional<ByteView>(value) : none);
        // An image value kept inside the row (the text-in-row option) is read as varbinary.
        case kTypeNVarChar: case kTypeVarBinary: case kTypeImage: case kTypeVarChar: case kTypeText: case kTypeNText:
        case kTypeSqlVariant: case kTypeHierarchyId: case kTypeGeometry: case kTypeXml:
            return positive ? std::optional<ByteView>(value) : none;
        default:
            return none;
    }
}

}  // namespace kestrane
