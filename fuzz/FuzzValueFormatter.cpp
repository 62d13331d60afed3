// Feeds arbitrary bytes to the value formatter as every type code, and as a sql_variant value.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "datafile/BitReader.h"
#include "datafile/ColumnDef.h"
#include "datafile/ValueFormatter.h"
#include "datafile/ValueText.h"

using namespace kestrane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const uint32_t code = data[0] % 40;
    const uint8_t precision = data[1];
    const uint8_t scale = data[2];
    const int16_t valueLength = static_cast<int16_t>(data[3] | (data[4] << 8));
    const uint8_t variable = data[5] & 1;
    // The value in a buffer of its own, so that the sanitizer sees any read past it.
    std::vector<uint8_t> value(data + 6, data + size);
    ByteView bytes(value.data(), value.size());

    static const wchar_t* kTypeTexts[] = {L"x", L"x(8)", L"x(3)", L"x(17)", L"x(-1)", L"x(65535)", L"x(5)"};
    ColumnDef def(L"c", kTypeTexts[data[1] % 7], code);
    def.precision = precision;
    def.scale = scale;
    BitReader bits;
    for (int pass = 0; pass < 2; ++pass) {
        ColumnDescriptor d(code, def, &bits);
        d.variable = variable;
        d.valueLength = valueLength;
        d.availableLength = static_cast<int64_t>(value.size()) + (pass ? 1000 : 0);
        FormatColumnValue(d, bytes, def, 1252);
        ConsumedLength(d);
    }
    ColumnDescriptor v;
    v.typeCode = kTypeSqlVariant;
    FormatSqlVariantValue(v, bytes, static_cast<int64_t>(value.size()), 1251);
    FormatSqlVariantValue(v, bytes, valueLength, 932);
    FormatDecimalValue(precision, scale, bytes);
    FormatDateTime2Value(bytes, scale % 12, valueLength % 12);
    FormatDateTimeOffsetValue(bytes, scale % 12, valueLength % 12);
    FormatTimeValue(bytes, scale % 12, valueLength % 12);
    return 0;
}
