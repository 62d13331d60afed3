// Feeds arbitrary bytes to the value capture as every type code, and shows and writes what it takes:
// the display text, the literal and the typed accessors of the cell.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "datafile/BitReader.h"
#include "datafile/ColumnDef.h"
#include "datafile/CellText.h"
#include "datafile/RowValues.h"
#include "datafile/ValueFormatter.h"
#include "datafile/ValueText.h"
#include "platform/RunState.h"
#include "sqltext/ValueLiteral.h"

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
    RunState state;
    for (int pass = 0; pass < 2; ++pass) {
        ColumnDescriptor d(code, def, &bits);
        d.variable = variable;
        d.valueLength = valueLength;
        d.availableLength = static_cast<int64_t>(value.size()) + (pass ? 1000 : 0);
        const std::optional<ByteView> captured = CaptureColumnValue(d, bytes, def);
        ConsumedLength(d);
        // What the capture took, or the bytes as they stand when it refused them.
        RowValues row(1, pass ? 932 : 1252);
        row.SetValue(0, def, captured ? *captured : bytes);
        CellDisplayText(row[0]);
        ValueLiteral(def, row[0], state);
        if (auto inner = row[0].VariantValue()) CellDisplayText(*inner);
    }
    FormatDecimalValue(precision, scale, bytes);
    FormatDateTime2Value(bytes, scale % 12, valueLength % 12);
    FormatDateTimeOffsetValue(bytes, scale % 12, valueLength % 12);
    FormatTimeValue(bytes, scale % 12, valueLength % 12);
    return 0;
}
