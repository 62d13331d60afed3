// Fuzzes the catalogue row decoders and the type-text parser. Input: one byte that picks the fixed
// length and variable-column split, then the bytes (each part copied to a buffer of its exact size
// so that any overread is caught).
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "datafile/ColumnDef.h"
#include "datafile/SystemTableScanner.h"

using namespace kestrane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t split = data[0];
    const std::vector<uint8_t> body(data + 1, data + size);
    const size_t fixedLength = std::min<size_t>(body.size(), size_t(split) * 4);
    std::vector<uint8_t> fixed(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(fixedLength));
    std::vector<uint8_t> rest(body.begin() + static_cast<std::ptrdiff_t>(fixedLength), body.end());
    const size_t half = rest.size() / 2;
    std::vector<uint8_t> first(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(half));
    std::vector<uint8_t> second(rest.begin() + static_cast<std::ptrdiff_t>(half), rest.end());

    CatalogRow row;
    row.recordType = split & 7;
    row.hasFixed = !fixed.empty();
    row.fixed = ByteView(fixed);
    // The stated length may exceed what the view holds: the decoders must trust the view.
    row.fixedLength = static_cast<int32_t>(fixedLength) + (split & 0x80 ? 64 : 0);
    row.columnCount = split;
    row.variable = {ByteView(first), ByteView(second)};
    row.pageFileId = 1;

    RepairCounter repair;
    ObjectRecord object;
    DecodeObjectRow(row, split & 1, repair, object);
    ColumnRecord column;
    DecodeColumnRow(row, repair, column);
    LegacyColumnRecord legacy;
    DecodeLegacyColumnRow(row, repair, legacy);
    DataFileEntry file;
    DecodeDatabaseFileRow(row, file);
    AllocationUnitRecord unit;
    DecodeAllocationUnitRow(row, unit);
    RowsetRecord rowset;
    DecodeRowsetRow(row, rowset);
    TypeRecord type;
    DecodeTypeRow(row, type);
    IndexRecord index;
    DecodeIndexRow(row, index);
    LegacyIndexEntry legacyIndex;
    DecodeLegacyIndexRow(row, legacyIndex);
    IdentityTextFromValue(ByteView(rest));

    std::wstring typeText(first.begin(), first.end());
    ColumnDef def(L"c", typeText, split % 40);
    ColumnDescriptor descriptor(def.typeCode, def, nullptr);
    if (descriptor.variable > 1) __builtin_trap();
    return 0;
}
