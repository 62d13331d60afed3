#pragma once
// Plain records of the system base tables, one type per table, as the catalogue keeps them.
// Offsets below are F+N: byte N of a record's fixed part (row offset 4 + N), little-endian.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "datafile/ColumnDef.h"

namespace kestrane {

constexpr uint32_t kAllBits32 = 0xFFFFFFFFu;
constexpr uint16_t kAllBits16 = 0xFFFFu;
constexpr uint64_t kAllBits64 = ~uint64_t{0};

// Object 7 (legacy 99). F+0 id u64 | F+8 type u8 | F+9 owner (rowset) id u64 | F+17 u32 | F+21 u16 |
// F+23 first page {u32 page, u16 file} | F+29 root page | F+35 first IAM page. Needs 41 bytes.
struct AllocationUnitRecord {
    uint64_t id = 0;
    uint8_t type = 0xFF;
    uint64_t ownerId = 0;
    uint32_t status = kAllBits32;
    uint16_t unused21 = 0;
    uint32_t firstPageId = 0;
    uint16_t firstFileId = 0;
    uint32_t rootPageId = 0;
    uint16_t rootFileId = 0;
    uint32_t firstIamPageId = 0;
    uint16_t firstIamFileId = 0;

    bool HasNoPages() const { return firstPageId == 0 && rootPageId == 0 && firstIamPageId == 0; }
};

// Object 5. F+0 rowset id u64 | F+8 u8 | F+9 object id u32 | F+13 index id u32 | F+17 u32 |
// F+21 status u32 | F+25 u16 | F+27 u64. Needs 35 bytes.
struct RowsetRecord {
    uint64_t rowsetId = 0;
    uint8_t unused8 = 0xFF;
    uint32_t objectId = kAllBits32;
    uint32_t indexId = kAllBits32;
    uint32_t unused17 = kAllBits32;
    uint32_t status = kAllBits32;
    uint16_t unused25 = kAllBits16;
    uint64_t unused27 = kAllBits64;
};

// Object 34 (legacy 1). Current: F+0 id i32 | F+4 u32 | F+8 u8 | F+9 status u32 | F+13 type (2 chars) |
// F+15 parent u32 | F+19 u8 | F+20 u32. Legacy: type at F+4, parent at F+24 when the fixed part has 28.
struct ObjectRecord {
    int32_t id = -1;
    std::wstring name;
    uint32_t unused4 = kAllBits32;
    uint8_t unused8 = 0xFF;
    uint32_t status = kAllBits32;
    std::wstring type;
    uint32_t parentId = kAllBits32;
    uint8_t unused19 = 0xFF;
    uint32_t unused20 = kAllBits32;
};

// Objects 41 and 2187. F+0 object id u32 | F+4 number u16 | F+6 column id u32 | F+10 system type u8 |
// F+11 user type u32 | F+15 max length u16 | F+17 precision | F+18 scale | F+19 collation u32 |
// F+23 status u32 | F+27 u16 | F+29, F+33, F+37 u32. Needs 41 bytes.
struct ColumnRecord {
    uint32_t objectId = kAllBits32;
    uint16_t number = kAllBits16;
    uint32_t columnId = kAllBits32;
    std::wstring name;
    uint8_t systemTypeId = 0xFF;
    uint32_t userTypeId = kAllBits32;
    uint16_t maxLength = kAllBits16;
    uint8_t precision = 0xFF;
    uint8_t scale = 0xFF;
    uint32_t collationId = kAllBits32;
    uint32_t status = kAllBits32;
    uint16_t unused27 = kAllBits16;
    uint32_t unused29 = kAllBits32;
    uint32_t defaultObjectId = kAllBits32;  // F+33: the column's default constraint, 0 for none
    uint32_t unused37 = kAllBits32;
    std::wstring identityText;
};

// Object 54. F+0 object id | F+4 index id | F+8 status | F+12 u32 | F+16..18 u8 | F+19, F+23 u32 |
// F+27 rowset id u64. Needs 35 bytes.
struct IndexRecord {
    uint32_t objectId = kAllBits32;
    uint32_t indexId = kAllBits32;
    std::wstring name;
    uint32_t status = kAllBits32;
    uint32_t unused12 = kAllBits32;
    uint8_t unused16 = 0xFF, unused17 = 0xFF, unused18 = 0xFF;
    uint32_t unused19 = kAllBits32;
    uint32_t unused23 = kAllBits32;
    uint64_t rowsetId = kAllBits64;
};

// Object 50. F+0 type id | F+4 schema id (1: user-defined) | F+8 system type u8 | F+9 max length u16 |
// F+11, F+12 u8 | F+13, F+17 u32 | F+30, F+34 u32. Needs 38 bytes.
struct TypeRecord {
    uint32_t typeId = kAllBits32;
    uint32_t schemaId = kAllBits32;
    std::wstring name;
    uint8_t systemTypeId = 0xFF;
    uint16_t maxLength = kAllBits16;
    uint8_t unused11 = 0xFF, unused12 = 0xFF;
    uint32_t unused13 = kAllBits32, unused17 = kAllBits32;
    uint32_t unused30 = kAllBits32, unused34 = kAllBits32;
};

// Object 3: the first 50 bytes of the fixed part. Leaf offset at F+40 (low 16 bits used), NULL-bit
// index at F+44, a bit column's bit in its byte at F+48, ordinal at F+12.
struct RowsetColumnRecord {
    uint64_t rowsetId = 0;
    uint32_t columnId = kAllBits32;
    uint32_t ordinal = 0;
    uint32_t unused16 = kAllBits32, unused20 = kAllBits32, unused24 = kAllBits32, unused28 = kAllBits32;
    uint16_t unused32 = kAllBits16, unused34 = kAllBits16;
    uint32_t unused36 = kAllBits32;
    uint32_t leafOffset = kAllBits32;
    uint32_t nullBitIndex = kAllBits32;
    uint16_t bitPosition = kAllBits16;
};

// Object 13. F+0 rowset id | F+8 column id | F+27 leaf offset u16 | F+33 NULL-bit index u16. Needs 35.
// The ordinal comes from the matching RowsetColumnOrdinalRecord.
struct RowsetColumnAltRecord {
    uint64_t rowsetId = 0;
    uint32_t columnId = 0;
    uint16_t leafOffset = 0;
    uint16_t nullBitIndex = 0;
    uint32_t ordinal = kAllBits32;
};

// Object 4. F+0 rowset id | F+8 column id | F+12 ordinal. Needs 16.
struct RowsetColumnOrdinalRecord {
    uint64_t rowsetId = 0;
    uint32_t columnId = 0;
    uint32_t ordinal = 0;
};

// Object 9 (2012 on), values kept per rowset column: F+0 value class u8 | F+1 rowset id u64 |
// F+9 rowset column id u64 | F+17 value number i32 | var 0 value (sql_variant) | var 1 image value.
// The rowset column id is the column's place in the rowset (object 3's F+12), which differs from its
// column id once columns were dropped. Value number 0 of class 1 of a rowset column is the value that
// rows written before the column was added hold for it (the column's default when it was added).
// Needs 21.
struct RowsetColumnValueRecord {
    uint64_t rowsetId = 0;
    uint32_t columnId = kAllBits32;
    std::vector<uint8_t> value;  // the sql_variant bytes as stored
};

// Object 55. F+0 object id | F+4 index id | F+8, F+12 u32 | F+16 column id | F+20 key position u8 |
// F+21 u8. Needs 22. The index status is filled by the catalogue from the owning index.
struct IndexColumnRecord {
    uint32_t objectId = kAllBits32;
    uint32_t indexId = kAllBits32;
    uint32_t unused8 = kAllBits32, unused12 = kAllBits32;
    uint32_t columnId = kAllBits32;
    uint8_t keyPosition = 0xFF;
    uint8_t unused21 = 0xFF;
    uint32_t indexStatus = 0;
};

// Object 74. F+0 class u8 | F+1 referencing id | F+5 referencing sub-id | F+9 referenced id |
// F+13 referenced sub-id | F+17 u32. Needs 21. Class 28 and 29 rows describe foreign-key columns.
struct ObjectReferenceRecord {
    uint8_t refClass = 0xFF;
    uint32_t referencingId = kAllBits32;
    uint32_t referencingSubId = kAllBits32;
    uint32_t referencedId = kAllBits32;
    uint32_t referencedSubId = kAllBits32;
    uint32_t unused17 = kAllBits32;
};

// Legacy object 3. Needs 34; collation (F+34) needs 38 and 21 columns, nullability (F+42) 43 and 21.
struct LegacyColumnRecord {
    std::wstring name;
    uint32_t objectId = kAllBits32;
    uint8_t systemTypeId = 0xFF;
    uint8_t statusBits = 0xFF;
    uint16_t userTypeId = kAllBits16;
    uint16_t maxLength = kAllBits16;
    uint8_t precision = 0xFF;
    uint8_t scale = 0xFF;
    uint16_t columnNumber = kAllBits16;
    uint16_t leafOffset2 = kAllBits16;
    uint8_t unused16 = 0xFF, unused17 = 0xFF;
    uint16_t unused18 = kAllBits16, unused20 = kAllBits16;
    uint32_t unused24 = kAllBits32;
    uint16_t unused28 = kAllBits16;
    uint16_t columnPosition = kAllBits16;
    uint32_t zero = 0;
    uint16_t leafOffset = kAllBits16;
    uint32_t collationId = kAllBits32;
    uint8_t nullability = 0xFF;
};

// Legacy object 2, one per table (clustered or heap entry).
struct LegacyIndexEntry {
    uint32_t objectId = 0;
    uint16_t fileId = 0;
    uint16_t indexId = 0;
    uint32_t firstPageId = 0;
    uint32_t firstIamPageId = 0;
};

struct ColumnGroupEntry {
    std::wstring columnName;
    std::wstring spare;
    uint32_t position = 0;
    uint32_t status = 0;
};

// Legacy layout: the columns of one user table, joined by object id.
struct ColumnGroupRecord {
    uint32_t objectId = 0;
    std::wstring tableName;
    std::wstring spare;
    std::vector<ColumnGroupEntry> entries;
};

struct KeyConstraintRecord {
    uint8_t primaryKey = 0;
    uint8_t foreignKey = 0;
    uint8_t unique = 0;
    std::wstring name;
    uint32_t id = 0;
    std::wstring type;
};

struct ForeignKeyRecord {
    uint32_t foreignKeyId = 0;
    uint32_t keyColumnOrdinal = 0;
    uint32_t referencingTableId = 0;
    uint32_t referencingColumnId = 0;
    uint32_t referencedTableId = 0;
    uint32_t referencedColumnId = 0;
    std::wstring name;
    std::wstring spare;
    std::wstring referencingTableName;
    std::wstring referencingColumnName;
    std::wstring referencedTableName;
    std::wstring referencedColumnName;
    uint32_t status = 0;
};

// Key column of an index with status bit 0x20, named with its table.
struct KeyColumnRecord {
    std::wstring tableName;
    std::wstring columnName;
    std::wstring spare;
    uint32_t keyPosition = 0;
    uint32_t tableId = 0;  // the name alone is not the table's: two schemas may each have one of it
};

// Caller-supplied texts for BuildObjectLists: {object id, column key, "0x" hex definition}.
struct StringTriple {
    std::wstring key;
    std::wstring column;
    std::wstring value;
};

// One table's columns as the row decoders of a data page use them.
struct TableLayout {
    ColumnDefList columns;
    std::vector<std::array<uint8_t, 24>> sideList24;
    std::vector<uint64_t> sideList8;
};

TableLayout* BuildTableLayout(const ColumnDefList& columns);
void DestroyTableLayout(TableLayout* layout);

}  // namespace kestrane
