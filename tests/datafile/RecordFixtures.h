#pragma once
// Byte-level builders for records and pages in tests.
#include "datafile/CellText.h"
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "datafile/ColumnDef.h"
#include "datafile/PageHeader.h"

namespace kestrane::test {

using Bytes = std::vector<uint8_t>;

// A stored column of a test layout: column id and ordinal `id`, NULL bitmap bit `id`, leaf offset `leaf`
// (fixed: offset in the row; variable: -(index + 1)).
inline ColumnDef LayoutColumn(uint32_t id, const std::wstring& name, const std::wstring& typeText, uint32_t code,
                              int16_t leaf, uint8_t nullable = 0) {
    ColumnDef def(name, typeText, code);
    def.columnId = id;
    def.ordinal = static_cast<int32_t>(id);
    def.nullable = nullable;
    def.inLayout = 1;
    def.leafOffset = leaf;
    def.nullBitmapIndex = static_cast<int32_t>(id);
    return def;
}

inline void PutU16(Bytes& b, size_t at, uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(Bytes& b, size_t at, uint32_t v) {
    PutU16(b, at, static_cast<uint16_t>(v));
    PutU16(b, at + 2, static_cast<uint16_t>(v >> 16));
}
inline void PutU64(Bytes& b, size_t at, uint64_t v) {
    PutU32(b, at, static_cast<uint32_t>(v));
    PutU32(b, at + 4, static_cast<uint32_t>(v >> 32));
}
inline void AppendU16(Bytes& b, uint16_t v) { PutU16(b, b.size(), v); }

// A FixedVar row: status A (NULL bitmap + variable columns unless given), fixed part, column count,
// NULL bitmap, then the variable columns. `complexMask` bit k marks variable column k complex.
inline Bytes FixedVarRow(const Bytes& fixed, uint16_t columnCount, const std::vector<Bytes>& variable,
                         uint8_t statusA = 0x30, uint16_t complexMask = 0) {
    Bytes row{statusA, 0};
    AppendU16(row, static_cast<uint16_t>(fixed.size() + 4));
    row.insert(row.end(), fixed.begin(), fixed.end());
    AppendU16(row, columnCount);
    if (statusA & 0x10) row.resize(row.size() + (columnCount + 7) / 8, 0);
    if (statusA & 0x20) {
        AppendU16(row, static_cast<uint16_t>(variable.size()));
        size_t end = row.size() + 2 * variable.size();
        for (size_t k = 0; k < variable.size(); ++k) {
            end += variable[k].size();
            AppendU16(row, static_cast<uint16_t>(end | ((complexMask >> k) & 1u ? 0x8000u : 0u)));
        }
        for (const Bytes& v : variable) row.insert(row.end(), v.begin(), v.end());
    }
    return row;
}

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// `v` as `n` little-endian bytes, sign-extended past 8.
inline Bytes Le(uint64_t v, size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(v >> (8 * std::min<size_t>(i, 7)));
    if (n > 8) std::fill(b.begin() + 8, b.end(), static_cast<uint8_t>(static_cast<int64_t>(v) < 0 ? 0xFF : 0));
    return b;
}
inline Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// The display texts of a decoded row.
inline std::vector<std::wstring> Texts(const RowValues& row) {
    std::vector<std::wstring> t;
    for (size_t i = 0; i < row.size(); ++i) t.push_back(CellDisplayText(row[i]));
    return t;
}

// Fixed parts of a sys.objects and a sys.columns row (the current layout).
inline Bytes ObjectFixed(int32_t id, const char* type, uint32_t parent) {
    Bytes f(24, 0);
    PutU32(f, 0, static_cast<uint32_t>(id));
    f[13] = static_cast<uint8_t>(type[0]);
    f[14] = static_cast<uint8_t>(type[1]);
    PutU32(f, 15, parent);
    return f;
}
inline Bytes ColumnFixed(uint32_t objectId, uint32_t columnId, uint8_t systemType, uint16_t maxLength,
                         uint32_t status = 0) {
    Bytes f(41, 0);
    PutU32(f, 0, objectId);
    PutU32(f, 6, columnId);
    f[10] = systemType;
    PutU32(f, 11, systemType);
    PutU16(f, 15, maxLength);
    PutU32(f, 23, status);
    return f;
}

// A page image with a header and rows placed one after another from offset 96, one slot each.
struct PageBuilder {
    Bytes image = Bytes(kPageSize, 0);
    uint16_t slots = 0;
    size_t freeOffset = kPageHeaderSize;

    explicit PageBuilder(uint8_t pageType = 1, uint32_t thisPage = 20, uint32_t objectId = 100) {
        image[0] = 1;
        image[kHdrPageType] = pageType;
        PutU32(image, kHdrObjectId, objectId);
        PutU32(image, kHdrThisPageId, thisPage);
        PutU16(image, kHdrThisFileId, 1);
    }
    // Places `row` at the free offset (or at `at`) and gives it the next slot; returns its offset.
    size_t AddRow(const Bytes& row, size_t at = 0) {
        if (at == 0) at = freeOffset;
        std::memcpy(image.data() + at, row.data(), row.size());
        freeOffset = std::max(freeOffset, at + row.size());
        SetSlot(slots, static_cast<uint16_t>(at));
        SetSlotCount(static_cast<uint16_t>(slots + 1));
        return at;
    }
    void SetSlot(uint16_t slot, uint16_t offset) { PutU16(image, kPageSize - 2 - 2 * slot, offset); }
    void SetSlotCount(uint16_t n) {
        slots = n;
        PutU16(image, 22, n);
    }
    PageBuffer Buffer() const {
        PageBuffer b = AllocatePageBuffer();
        std::memcpy(b.get(), image.data(), kPageSize);
        return b;
    }
};

}  // namespace kestrane::test
