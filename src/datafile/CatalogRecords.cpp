#include "datafile/CatalogRecords.h"

#include <cwctype>

#include "datafile/SystemTableScanner.h"
#include "platform/TextCodec.h"

namespace kestrane {

TableLayout* BuildTableLayout(const ColumnDefList& columns) {
    auto* layout = new TableLayout;
    layout->columns = columns;
    return layout;
}

void DestroyTableLayout(TableLayout* layout) { delete layout; }

namespace {

// Record kinds that no catalogue decoder reads.
constexpr uint32_t kKindIndex = 3;
constexpr uint32_t kColumnIsIdentity = 0x04;  // column status bit
constexpr uint32_t kKindLargeValue = 4;

// The first variable column as UTF-16 text; nullopt when the record has no such value with data.
std::optional<std::wstring> FirstNameColumn(const CatalogRow& row) {
    if (row.variable.empty() || row.variable[0].empty()) return std::nullopt;
    return Utf16LeToWide(row.variable[0]);
}

std::wstring Numbered(const wchar_t* prefix, RepairCounter& repair) {
    return prefix + std::to_wstring(repair.value++);
}

// Name rule of objects and columns: a missing name column gets `missing` + counter, and an empty name
// (a name column that decodes to nothing) gets "RepairColumn" + counter.
std::wstring RepairedName(const CatalogRow& row, const wchar_t* missing, RepairCounter& repair) {
    std::wstring name;
    if (auto stored = FirstNameColumn(row)) {
        name = std::move(*stored);
    } else {
        name = Numbered(missing, repair);
    }
    if (name.empty()) name = Numbered(L"RepairColumn", repair);
    return name;
}

std::wstring NameOrEmpty(const CatalogRow& row) { return FirstNameColumn(row).value_or(std::wstring()); }

// UTF-16 text of a fixed-width field, up to its first zero unit, without trailing white space.
std::wstring FixedWideText(ByteView field) {
    std::wstring text = Utf16LeToWide(field);
    size_t zero = text.find(L'\0');
    if (zero != std::wstring::npos) text.resize(zero);
    while (!text.empty() && std::iswspace(static_cast<wint_t>(text.back()))) text.pop_back();
    return text;
}

std::wstring TwoCharType(ByteView fixed, size_t offset) {
    std::wstring type;
    type += static_cast<wchar_t>(fixed.getOr<uint8_t>(offset, 0));
    type += static_cast<wchar_t>(fixed.getOr<uint8_t>(offset + 1, 0));
    return type;
}

bool Skipped(const CatalogRow& row, bool alsoIndexRecords) {
    return row.recordType == kKindLargeValue || (alsoIndexRecords && row.recordType == kKindIndex);
}

}  // namespace

bool DecodeDatabaseFileRow(const CatalogRow& row, DataFileEntry& out) {
    if (Skipped(row, false)) return false;
    if (!row.Reaches(782)) return true;
    const ByteView& f = row.fixed;
    out.firstWord = f.getOr<uint32_t>(0, 0);
    out.fileId = static_cast<uint32_t>(static_cast<int32_t>(f.getOr<int16_t>(4, 0)));
    out.logicalName = FixedWideText(f.sub(6, 256));
    out.path = FixedWideText(f.sub(262, 520));
    return true;
}

bool DecodeObjectRow(const CatalogRow& row, bool legacy, RepairCounter& repair, ObjectRecord& out) {
    if (Skipped(row, false) || !row.Reaches(24)) return false;
    const ByteView& f = row.fixed;
    out.id = f.getOr<int32_t>(0, -1);
    out.unused4 = f.getOr<uint32_t>(4, kAllBits32);
    out.unused8 = f.getOr<uint8_t>(8, 0xFF);
    out.status = f.getOr<uint32_t>(9, kAllBits32);
    if (legacy) {
        out.type = TwoCharType(f, 4);
        out.parentId = row.Reaches(28) ? f.getOr<uint32_t>(24, kAllBits32) : f.getOr<uint32_t>(15, kAllBits32);
    } else {
        out.type = TwoCharType(f, 13);
        out.parentId = f.getOr<uint32_t>(15, kAllBits32);
    }
    out.unused19 = f.getOr<uint8_t>(19, 0xFF);
    out.unused20 = f.getOr<uint32_t>(20, kAllBits32);
    out.name = RepairedName(row, L"Repairname", repair);
    return out.id >= 1;
}

bool DecodeAllocationUnitRow(const CatalogRow& row, AllocationUnitRecord& out) {
    if (Skipped(row, false)) return false;
    if (!row.Reaches(41)) return true;
    const ByteView& f = row.fixed;
    out.id = f.getOr<uint64_t>(0, 0);
    out.type = f.getOr<uint8_t>(8, 0xFF);
    out.ownerId = f.getOr<uint64_t>(9, 0);
    out.status = f.getOr<uint32_t>(17, kAllBits32);
    out.unused21 = f.getOr<uint16_t>(21, 0);
    out.firstPageId = f.getOr<uint32_t>(23, 0);
    out.firstFileId = f.getOr<uint16_t>(27, 0);
    out.rootPageId = f.getOr<uint32_t>(29, 0);
    out.rootFileId = f.getOr<uint16_t>(33, 0);
    out.firstIamPageId = f.getOr<uint32_t>(35, 0);
    out.firstIamFileId = f.getOr<uint16_t>(39, 0);
    return true;
}

bool DecodeRowsetRow(const CatalogRow& row, RowsetRecord& out) {
    if (Skipped(row, false)) return false;
    if (!row.Reaches(35)) return true;
    const ByteView& f = row.fixed;
    out.rowsetId = f.getOr<uint64_t>(0, 0);
    out.unused8 = f.getOr<uint8_t>(8, 0xFF);
    out.objectId = f.getOr<uint32_t>(9, kAllBits32);
    out.indexId = f.getOr<uint32_t>(13, kAllBits32);
    out.unused17 = f.getOr<uint32_t>(17, kAllBits32);
    out.status = f.getOr<uint32_t>(21, kAllBits32);
    out.unused25 = f.getOr<uint16_t>(25, kAllBits16);
    out.unused27 = f.getOr<uint64_t>(27, kAllBits64);
    return true;
}

std::wstring IdentityTextFromValue(ByteView v) {
    const size_t length = v.size();
    int64_t seed = 0;
    int64_t increment = 0;
    auto wide64 = [&](size_t at) { return v.getOr<int64_t>(at, 0); };
    auto u32 = [&](size_t at) { return static_cast<int64_t>(v.getOr<uint32_t>(at, 0)); };
    auto u16 = [&](size_t at) { return static_cast<int64_t>(v.getOr<uint16_t>(at, 0)); };
    // A 24-byte value whose first u32 is set and second is zero holds 64-bit seed and increment.
    auto holds64 = [&] {
        uint32_t a = v.getOr<uint32_t>(0, 0);
        return a != 0 && v.getOr<uint64_t>(0, 0) == a;
    };
    if (length >= 24) {
        if (holds64()) {
            seed = wide64(8);
            increment = wide64(16);
        } else {
            seed = u32(4);
            increment = u32(8);
        }
    } else if (length >= 12) {
        seed = u32(4);
        increment = u32(8);
    } else if (length >= 6) {
        seed = u16(2);
        increment = u16(4);
    } else {
        seed = 1;
        increment = 1;
    }
    if (seed == 0 && length >= 24 && holds64()) {
        seed = wide64(8);
        increment = wide64(16);
    }
    if (increment == 0) increment = 1;
    return L"identity(" + std::to_wstring(seed) + L"," + std::to_wstring(increment) + L")";
}

bool DecodeColumnRow(const CatalogRow& row, RepairCounter& repair, ColumnRecord& out) {
    if (Skipped(row, true)) return false;
    if (!row.Reaches(41)) return true;
    const ByteView& f = row.fixed;
    out.objectId = f.getOr<uint32_t>(0, kAllBits32);
    out.number = f.getOr<uint16_t>(4, kAllBits16);
    out.columnId = f.getOr<uint32_t>(6, kAllBits32);
    out.systemTypeId = f.getOr<uint8_t>(10, 0xFF);
    out.userTypeId = f.getOr<uint32_t>(11, kAllBits32);
    out.maxLength = f.getOr<uint16_t>(15, kAllBits16);
    out.precision = f.getOr<uint8_t>(17, 0xFF);
    out.scale = f.getOr<uint8_t>(18, 0xFF);
    out.collationId = f.getOr<uint32_t>(19, kAllBits32);
    out.status = f.getOr<uint32_t>(23, kAllBits32);
    out.unused27 = f.getOr<uint16_t>(27, kAllBits16);
    out.unused29 = f.getOr<uint32_t>(29, kAllBits32);
    out.defaultObjectId = f.getOr<uint32_t>(33, kAllBits32);
    out.unused37 = f.getOr<uint32_t>(37, kAllBits32);
    // The identity bit, whatever else the status holds (NOT FOR REPLICATION adds 0x10000).
    if ((out.status & kColumnIsIdentity) != 0 && row.variable.size() >= 2)
        out.identityText = IdentityTextFromValue(row.variable[1]);
    out.name = RepairedName(row, L"RepairColumn", repair);
    return true;
}

bool DecodeTypeRow(const CatalogRow& row, TypeRecord& out) {
    if (Skipped(row, false) || !row.hasFixed) return false;
    if (!row.Reaches(38)) return true;
    const ByteView& f = row.fixed;
    out.typeId = f.getOr<uint32_t>(0, kAllBits32);
    out.schemaId = f.getOr<uint32_t>(4, kAllBits32);
    out.systemTypeId = f.getOr<uint8_t>(8, 0xFF);
    out.maxLength = f.getOr<uint16_t>(9, kAllBits16);
    out.unused11 = f.getOr<uint8_t>(11, 0xFF);
    out.unused12 = f.getOr<uint8_t>(12, 0xFF);
    out.unused13 = f.getOr<uint32_t>(13, kAllBits32);
    out.unused17 = f.getOr<uint32_t>(17, kAllBits32);
    out.unused30 = f.getOr<uint32_t>(30, kAllBits32);
    out.unused34 = f.getOr<uint32_t>(34, kAllBits32);
    out.name = NameOrEmpty(row);
    return true;
}

bool DecodeRowsetColumnRow(const CatalogRow& row, RowsetColumnRecord& out) {
    if (Skipped(row, false)) return false;
    if (!row.Reaches(50)) return true;
    const ByteView& f = row.fixed;
    out.rowsetId = f.getOr<uint64_t>(0, 0);
    out.columnId = f.getOr<uint32_t>(8, kAllBits32);
    out.ordinal = f.getOr<uint32_t>(12, 0);
    out.unused16 = f.getOr<uint32_t>(16, kAllBits32);
    out.unused20 = f.getOr<uint32_t>(20, kAllBits32);
    out.unused24 = f.getOr<uint32_t>(24, kAllBits32);
    out.unused28 = f.getOr<uint32_t>(28, kAllBits32);
    out.unused32 = f.getOr<uint16_t>(32, kAllBits16);
    out.unused34 = f.getOr<uint16_t>(34, kAllBits16);
    out.unused36 = f.getOr<uint32_t>(36, kAllBits32);
    out.leafOffset = f.getOr<uint32_t>(40, kAllBits32);
    out.nullBitIndex = f.getOr<uint32_t>(44, kAllBits32);
    out.bitPosition = f.getOr<uint16_t>(48, kAllBits16);
    return true;
}

bool DecodeObjectReferenceRow(const CatalogRow& row, ObjectReferenceRecord& out) {
    if (Skipped(row, false) || !row.Reaches(21)) return false;
    const ByteView& f = row.fixed;
    out.refClass = f.getOr<uint8_t>(0, 0xFF);
    out.referencingId = f.getOr<uint32_t>(1, kAllBits32);
    out.referencingSubId = f.getOr<uint32_t>(5, kAllBits32);
    out.referencedId = f.getOr<uint32_t>(9, kAllBits32);
    out.referencedSubId = f.getOr<uint32_t>(13, kAllBits32);
    out.unused17 = f.getOr<uint32_t>(17, kAllBits32);
    return true;
}

bool DecodeIndexRow(const CatalogRow& row, IndexRecord& out) {
    if (Skipped(row, false) || !row.hasFixed) return false;
    if (!row.Reaches(35)) return true;
    const ByteView& f = row.fixed;
    out.objectId = f.getOr<uint32_t>(0, kAllBits32);
    out.indexId = f.getOr<uint32_t>(4, kAllBits32);
    out.status = f.getOr<uint32_t>(8, kAllBits32);
    out.unused12 = f.getOr<uint32_t>(12, kAllBits32);
    out.unused16 = f.getOr<uint8_t>(16, 0xFF);
    out.unused17 = f.getOr<uint8_t>(17, 0xFF);
    out.unused18 = f.getOr<uint8_t>(18, 0xFF);
    out.unused19 = f.getOr<uint32_t>(19, kAllBits32);
    out.unused23 = f.getOr<uint32_t>(23, kAllBits32);
    out.rowsetId = f.getOr<uint64_t>(27, kAllBits64);
    out.name = NameOrEmpty(row);
    return true;
}

bool DecodeIndexColumnRow(const CatalogRow& row, IndexColumnRecord& out) {
    if (Skipped(row, false)) return false;
    if (!row.Reaches(22)) return true;
    const ByteView& f = row.fixed;
    out.objectId = f.getOr<uint32_t>(0, kAllBits32);
    out.indexId = f.getOr<uint32_t>(4, kAllBits32);
    out.unused8 = f.getOr<uint32_t>(8, kAllBits32);
    out.unused12 = f.getOr<uint32_t>(12, kAllBits32);
    out.columnId = f.getOr<uint32_t>(16, kAllBits32);
    out.keyPosition = f.getOr<uint8_t>(20, 0xFF);
    out.unused21 = f.getOr<uint8_t>(21, 0xFF);
    out.indexStatus = 0;
    return true;
}

bool DecodeRowsetColumnAltRow(const CatalogRow& row, RowsetColumnAltRecord& out) {
    if (Skipped(row, false)) return false;
    if (!row.Reaches(35)) return true;
    const ByteView& f = row.fixed;
    out.rowsetId = f.getOr<uint64_t>(0, 0);
    out.columnId = f.getOr<uint32_t>(8, 0);
    out.leafOffset = f.getOr<uint16_t>(27, 0);
    out.nullBitIndex = f.getOr<uint16_t>(33, 0);
    return true;
}

bool DecodeRowsetColumnOrdinalRow(const CatalogRow& row, RowsetColumnOrdinalRecord& out) {
    if (Skipped(row, false)) return false;
    if (!row.Reaches(16)) return true;
    const ByteView& f = row.fixed;
    out.rowsetId = f.getOr<uint64_t>(0, 0);
    out.columnId = f.getOr<uint32_t>(8, 0);
    out.ordinal = f.getOr<uint32_t>(12, 0);
    return true;
}

bool DecodeRowsetColumnValueRow(const CatalogRow& row, RowsetColumnValueRecord& out) {
    if (Skipped(row, true) || row.ghost || !row.Reaches(21) || row.variable.empty()) return false;
    const ByteView& f = row.fixed;
    const uint64_t columnId = f.getOr<uint64_t>(9, kAllBits64);
    // Only value number 0 of a rowset column, held in the row: a value is at most 8016 bytes.
    constexpr uint8_t kRowsetColumnValueClass = 1;
    if (f.getOr<uint8_t>(0, 0) != kRowsetColumnValueClass || f.getOr<int32_t>(17, -1) != 0 || columnId > kAllBits32 || row.variable[0].empty()) return false;
    if (row.complex.empty() || row.complex[0] != 0) return false;
    out.rowsetId = f.getOr<uint64_t>(1, 0);
    out.columnId = static_cast<uint32_t>(columnId);
    out.value = row.variable[0].toVector();
    return true;
}

bool DecodeLegacyIndexRow(const CatalogRow& row, LegacyIndexEntry& out) {
    if (Skipped(row, true) || !row.Reaches(68)) return false;
    const ByteView& f = row.fixed;
    out.objectId = f.getOr<uint32_t>(0, 0);
    out.fileId = row.pageFileId;
    out.indexId = f.getOr<uint16_t>(14, 0);
    out.firstPageId = f.getOr<uint32_t>(8, 0);
    out.firstIamPageId = f.getOr<uint32_t>(64, 0);
    return out.indexId == 1;
}

bool DecodeLegacyColumnRow(const CatalogRow& row, RepairCounter& repair, LegacyColumnRecord& out) {
    if (Skipped(row, true)) return false;
    if (!row.Reaches(34)) return true;
    const ByteView& f = row.fixed;
    out.objectId = f.getOr<uint32_t>(0, kAllBits32);
    out.systemTypeId = f.getOr<uint8_t>(4, 0xFF);
    out.statusBits = f.getOr<uint8_t>(5, 0xFF);
    out.userTypeId = f.getOr<uint16_t>(6, kAllBits16);
    out.maxLength = f.getOr<uint16_t>(8, kAllBits16);
    out.precision = f.getOr<uint8_t>(10, 0xFF);
    out.scale = f.getOr<uint8_t>(11, 0xFF);
    out.columnNumber = f.getOr<uint16_t>(12, kAllBits16);
    out.leafOffset2 = f.getOr<uint16_t>(14, kAllBits16);
    out.unused16 = f.getOr<uint8_t>(16, 0xFF);
    out.unused17 = f.getOr<uint8_t>(17, 0xFF);
    out.unused18 = f.getOr<uint16_t>(18, kAllBits16);
    out.unused20 = f.getOr<uint16_t>(20, kAllBits16);
    out.unused24 = f.getOr<uint32_t>(24, kAllBits32);
    out.unused28 = f.getOr<uint16_t>(28, kAllBits16);
    out.columnPosition = f.getOr<uint16_t>(30, kAllBits16);
    out.zero = 0;
    out.leafOffset = f.getOr<uint16_t>(32, kAllBits16);
    if (row.columnCount >= 21 && row.Reaches(38)) out.collationId = f.getOr<uint32_t>(34, kAllBits32);
    if (row.columnCount >= 21 && row.Reaches(43)) out.nullability = f.getOr<uint8_t>(42, 0xFF);
    out.name = RepairedName(row, L"RepairColumn", repair);
    return true;
}

}  // namespace kestrane
