#pragma once
// Column definitions and the internal column type code that every decoder and writer keys on.
#include <cstdint>
#include <string>
#include <vector>

namespace kestrane {

class BitReader;

// Storage type of a column, independent of the server's system type ids.
enum InternalTypeCode : uint32_t {
    kTypeBigInt = 0,
    kTypeBinary = 1,
    kTypeBit = 2,
    kTypeChar = 3,  // also every system type that has no code of its own
    kTypeDateTime = 4,
    kTypeDate = 5,
    kTypeTime = 6,
    kTypeDateTime2 = 7,
    kTypeDateTimeOffset = 8,
    kTypeInt = 9,
    kTypeNChar = 10,
    kTypeNVarChar = 11,
    kTypeUnused12 = 12,  // never produced; sized as an 8-byte fixed value
    kTypeSmallInt = 13,
    kTypeTinyInt = 14,
    kTypeUniqueIdentifier = 15,
    kTypeVarBinary = 16,
    kTypeVarChar = 17,
    kTypeSysName = 18,  // rewritten to 11 when a ColumnDef is built
    kTypeNText = 19,
    kTypeSqlVariant = 20,
    kTypeMoney = 21,
    kTypeFloat = 22,
    kTypeNumeric = 23,
    kTypeDecimal = 24,
    kTypeImage = 25,
    kTypeText = 26,
    kTypeSmallDateTime = 27,
    kTypeReal = 28,
    kTypeSmallMoney = 29,
    kTypeTimestamp = 30,
    kTypeHierarchyId = 31,
    kTypeGeometry = 32,
    kTypeGeography = 33,
    kTypeXml = 34,
};

// System type id (sys.types system_type_id) -> internal code; unknown ids give kTypeChar.
uint32_t InternalTypeFromSystemType(uint32_t systemTypeId);
// System type id -> display name as the catalogue's type statements spell it; "" for unknown ids.
std::wstring TypeNameFromSystemType(uint32_t systemTypeId);

// The decimal digits that open the text between the first "(" and the first ")" of a type text,
// saturated at 0xFFFF; 0 when there are none.
uint16_t ParenthesisedNumber(const std::wstring& typeText);

// Marks a column without a place in the stored row (computed column).
constexpr int32_t kOrdinalNotStored = -99;

// One column of one table as the catalogue describes it. Decoded values live in RowValues.
struct ColumnDef {
    uint16_t declaredLength = 0;  // number in the type text's parentheses, for the codes that read it
    uint32_t columnId = 0;
    std::wstring name;
    uint32_t typeCode = 0;  // InternalTypeCode
    std::wstring typeText;  // e.g. "nvarchar(100)"; -1 for max
    uint8_t nullable = 0;
    uint8_t flag2 = 0;
    uint8_t variable = 0;  // stored in the variable part of a record
    uint8_t sparse = 0;
    std::wstring definitionText;  // a computed column's definition; the naming entries of a non-table object
    uint8_t precision = 0;
    uint8_t scale = 0;
    int32_t ordinal = 0;  // column id; kOrdinalNotStored for a computed column
    uint8_t inLayout = 0;  // has a place in the stored row
    int16_t leafOffset = 0;  // fixed: offset incl. 4-byte record head; variable: -(index + 1)
    int16_t leafOffset2 = 0;  // from the alternative rowset-column record
    int32_t nullBitmapIndex = 0;  // 1-based; -1 when unset
    int8_t bitPosition = -1;  // bit column: its bit in the shared byte, from the rowset-column record; -1 unknown
    uint8_t keyFlag = 0;  // identity/key column (index-column status 0x20)
    uint8_t indexFlag08 = 0;
    uint8_t indexFlag40 = 0;  // column of a unique constraint
    uint8_t foreignKeyFlag = 0;
    uint8_t status08Flag = 0;  // row-GUID column
    std::wstring referencedTable;
    std::wstring referencedColumn;
    std::wstring identityText;
    uint8_t keyPosition = 0;
    int32_t collationId = -1;
    uint8_t hasDefault = 0;  // a default constraint gives the column its value when an INSERT leaves it out
    // The value of the column in rows written before it was added (sql_variant bytes: base type id,
    // version, properties, value), when the catalogue keeps one.
    uint8_t hasStoredDefault = 0;
    std::vector<uint8_t> storedDefault;

    ColumnDef() = default;
    ColumnDef(const std::wstring& name, const std::wstring& typeText, uint32_t code);

    // Resets the definition to (name, type text, nullable, code) and derives the declared length and
    // the variable flag from the code and the type text.
    void ParseTypeText(const std::wstring& name, const std::wstring& typeText, uint8_t nullable, uint32_t code);
};

using ColumnDefList = std::vector<ColumnDef>;

// The storage view of one column while a record is decoded.
struct ColumnDescriptor {
    BitReader* bitReader = nullptr;  // bit columns only
    int64_t availableLength = 0;
    uint8_t variable = 0;
    uint16_t fixedLength = 0;
    uint32_t declaredLength = 0;
    int16_t valueLength = 0;
    uint32_t typeCode = 0;

    ColumnDescriptor() = default;
    // Sizes the column from its code; a bit column claims a new byte of the fixed part every eighth bit.
    ColumnDescriptor(uint32_t code, const ColumnDef& def, BitReader* bitReader);

    static uint32_t InternalTypeFromSystemType(uint32_t systemTypeId) { return kestrane::InternalTypeFromSystemType(systemTypeId); }
    static std::wstring TypeNameFromSystemType(uint32_t systemTypeId) { return kestrane::TypeNameFromSystemType(systemTypeId); }
};

}  // namespace kestrane
