// Fuzzes CD decompression end to end: a page (optionally page-compressed) whose rows are resolved at
// load, expanded for a fuzzed column list and decoded; and the value expansions and SCSU on their own.
// Input: u8 column count, then per column {u8 type code, u8 length, i8 leaf offset}, u8 slot count,
// u8 page flags, u16 per slot (its offset), then the page bytes from offset 96.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "datafile/CdRowDecompressor.h"
#include "datafile/CdValueExpansion.h"
#include "datafile/DataPage.h"
#include "datafile/RowValueDecoder.h"
#include "datafile/ScsuDecoder.h"
#include "platform/RunState.h"

using namespace kestrane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteCursor in(ByteView(data, size));
    const size_t columns = in.u8() % 40 + 1;
    TableLayout layout;
    for (size_t i = 0; i < columns && in.ok(); ++i) {
        const uint32_t code = in.u8() % 35;
        const uint8_t length = in.u8();
        const int8_t leaf = static_cast<int8_t>(in.u8());
        ColumnDef def(L"c", L"t(" + std::to_wstring(length) + L")", code);
        def.columnId = static_cast<uint32_t>(i + 1);
        def.ordinal = (length & 0x80) ? kOrdinalNotStored : static_cast<int32_t>(i + 1);
        def.inLayout = 1;
        def.leafOffset = leaf;
        def.nullBitmapIndex = (length & 0x40) ? -1 : static_cast<int32_t>(i + 1);
        def.precision = length % 40;
        def.scale = length % 8;
        layout.columns.push_back(def);
    }
    const uint8_t slots = in.u8() % 8;
    const uint8_t flags = in.u8();
    std::vector<uint16_t> offsets;
    for (uint8_t k = 0; k < slots; ++k) offsets.push_back(in.u16());
    if (!in.ok()) return 0;
    const ByteView rest = ByteView(data, size).from(in.pos());

    static RunState state{"/nonexistent/collation.txt"};
    PageBuffer image = AllocatePageBuffer();
    uint8_t* p = image.get();
    std::memset(p, 0, kPageSize);
    p[0] = 1;
    p[1] = 1;
    p[2] = (flags & 1) ? 0x80 : 0;
    p[22] = slots;
    p[32] = 20;
    p[36] = 1;
    std::memcpy(p + kPageHeaderSize, rest.data(), std::min(rest.size(), kPageSize - kPageHeaderSize));
    for (size_t k = 0; k < offsets.size(); ++k) std::memcpy(p + kPageSize - 2 - 2 * k, &offsets[k], 2);
    {
        CDataPage page(std::move(image), nullptr, state);
        ExpandCompressedRecords(page, layout.columns);
        ExpandCompressedRecords(page, layout.columns);
        DecodeRowValuesByRowsetColumns(page, layout);
    }

    std::vector<uint8_t> out;
    DecodeScsu(rest, out);
    for (const ColumnDef& def : layout.columns) ExpandCdValue(def, 2 + (flags >> 4) % 9, rest.clip(0, 16), out);
    VarDecimalToDecimal(rest.clip(0, 24), flags % 40, (flags >> 3) % 39, out);
    return 0;
}
