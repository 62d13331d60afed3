#include "datafile/CdValueExpansion.h"

#include <algorithm>

#include "datafile/ScsuDecoder.h"

namespace kestrane {

namespace {

using Bytes = std::vector<uint8_t>;

size_t DecimalMagnitudeWidth(int precision) {
    if (precision >= 1 && precision <= 9) return 4;
    if (precision >= 10 && precision <= 19) return 8;
    if (precision >= 20 && precision <= 28) return 12;
    return 16;
}

// Stored width of the time part for a fractional-seconds scale.
size_t TimeWidth(int scale) { return scale <= 2 ? 3 : scale <= 4 ? 4 : 5; }

// Big-endian, top bit flipped, sign-extended to `width` little-endian bytes.
bool FlippedBigEndian(ByteView v, size_t width, Bytes& out) {
    out.assign(width, 0);
    if (v.empty()) return true;
    if (v.size() > width) return false;
    const size_t n = v.size();
    for (size_t i = 0; i < n; ++i) out[i] = v.data()[n - 1 - i];
    out[n - 1] ^= 0x80;
    if (out[n - 1] & 0x80) std::fill(out.begin() + static_cast<std::ptrdiff_t>(n), out.end(), 0xFF);
    return true;
}

// Big-endian with trailing zero bytes dropped, back to `width` little-endian bytes.
bool TrimmedBigEndian(ByteView v, size_t width, Bytes& out) {
    out.assign(width, 0);
    if (v.size() > width) return false;
    for (size_t i = 0; i < v.size(); ++i) out[width - 1 - i] = v.data()[i];
    return true;
}

bool Padded(ByteView v, size_t width, uint8_t pad, Bytes& out) {
    out.assign(width, pad);
    if (v.size() > width) return false;
    std::copy(v.data(), v.data() + v.size(), out.begin());
    return true;
}

// UTF-16LE text of an nchar/nvarchar value: SCSU when its length is odd.
bool UnicodeText(ByteView v, Bytes& out) {
    out.clear();
    if (v.size() % 2 == 0) {
        out.assign(v.data(), v.data() + v.size());
        return true;
    }
    return DecodeScsu(v, out);
}

using Magnitude = unsigned __int128;

Magnitude PowerOf10(int p) {
    Magnitude r = 1;
    while (p-- > 0) r *= 10;
    return r;
}

}  // namespace

size_t UncompressedFixedWidth(const ColumnDef& def) {
    switch (def.typeCode) {
        case kTypeBigInt: case kTypeMoney: case kTypeFloat: case kTypeDateTime: case kTypeTimestamp: return 8;
        case kTypeInt: case kTypeSmallMoney: case kTypeReal: case kTypeSmallDateTime: return 4;
        case kTypeSmallInt: return 2;
        case kTypeTinyInt: return 1;
        case kTypeDate: return 3;
        case kTypeTime: return TimeWidth(def.scale);
        case kTypeDateTime2: return TimeWidth(def.scale) + 3;
        case kTypeDateTimeOffset: return TimeWidth(def.scale) + 5;
        case kTypeUniqueIdentifier: return 16;
        case kTypeNumeric: case kTypeDecimal: return 1 + DecimalMagnitudeWidth(def.precision);
        case kTypeChar: case kTypeBinary: case kTypeNChar: return def.declaredLength;
        default: return 0;
    }
}

bool VarDecimalToDecimal(ByteView v, int precision, int scale, Bytes& out) {
    const size_t width = DecimalMagnitudeWidth(precision);
    out.assign(1 + width, 0);
    out[0] = 1;
    if (v.empty()) return true;
    Bytes b(v.data(), v.data() + v.size());
    const bool negative = (b[0] & 0x80) == 0;
    if (negative)
        for (uint8_t& x : b) x = static_cast<uint8_t>(~x);
    const int exponent = (b[0] & 0x7F) - 64;
    const size_t groups = (b.size() - 1) * 8 / 10;
    const Magnitude limit = PowerOf10(38);
    Magnitude total = 0;
    for (size_t i = 0; i < groups; ++i) {
        uint32_t g = 0;
        for (size_t bit = i * 10; bit < i * 10 + 10; ++bit)
            g = (g << 1) | ((b[1 + bit / 8] >> (7 - bit % 8)) & 1u);
        if (g > 999) return false;
        const int64_t p = 3 * (static_cast<int64_t>(exponent) - 1 - static_cast<int64_t>(i)) + scale;
        if (g == 0 || p <= -3) continue;
        if (p < 0) {
            total += g / static_cast<uint32_t>(p == -1 ? 10 : 100);
            continue;
        }
        if (p > 38) return false;
        const Magnitude term = static_cast<Magnitude>(g) * PowerOf10(static_cast<int>(p));
        if (term > limit || total > limit - term) return false;
        total += term;
    }
    if (width < 16 && (total >> (8 * width)) != 0) return false;
    out[0] = negative ? 0 : 1;
    for (size_t i = 0; i < width; ++i) out[1 + i] = static_cast<uint8_t>(total >> (8 * i));
    return true;
}

bool ExpandCdValue(const ColumnDef& def, int code, ByteView stored, Bytes& out) {
    if (code == kCdEmpty || code == kCdNull) stored = ByteView();
    const size_t width = UncompressedFixedWidth(def);
    bool ok = true;
    switch (def.typeCode) {
        case kTypeTinyInt:
            out.assign(1, 0);
            if (stored.size() > 1) ok = false;
            else if (stored.size() == 1) out[0] = stored.data()[0];
            break;
        case kTypeBigInt: case kTypeInt: case kTypeSmallInt: case kTypeMoney: case kTypeSmallMoney:
        case kTypeDateTime: case kTypeSmallDateTime: case kTypeDate: case kTypeTime: case kTypeDateTime2:
        case kTypeDateTimeOffset:
            ok = FlippedBigEndian(stored, width, out);
            break;
        case kTypeFloat: case kTypeReal:
            ok = TrimmedBigEndian(stored, width, out);
            break;
        case kTypeChar:
            ok = Padded(stored, width, ' ', out);
            break;
        case kTypeBinary: case kTypeUniqueIdentifier: case kTypeTimestamp:
            ok = Padded(stored, width, 0, out);
            break;
        case kTypeNChar: {
            Bytes text;
            ok = UnicodeText(stored, text) && text.size() <= width;
            out.assign(width, 0);
            for (size_t i = 0; i + 1 < width; i += 2) out[i] = ' ';
            if (ok) std::copy(text.begin(), text.end(), out.begin());
            break;
        }
        case kTypeNVarChar:
            ok = UnicodeText(stored, out);
            break;
        case kTypeNumeric: case kTypeDecimal:
            ok = VarDecimalToDecimal(stored, def.precision, def.scale, out);
            break;
        default:
            out.assign(stored.data(), stored.data() + stored.size());
            break;
    }
    if (!ok) {
        // A damaged value reads as the type's zero (fixed types) or as no bytes.
        out.assign(width, 0);
        if (def.typeCode == kTypeNumeric || def.typeCode == kTypeDecimal) out[0] = 1;
    }
    return ok;
}

}  // namespace kestrane
