#include <gtest/gtest.h>

#include <cstring>

#include "datafile/MetadataCatalog.h"
#include "datafile/RecordFixtures.h"
#include "datafile/SystemTableScanner.h"
#include "platform/TextCodec.h"

namespace kestrane {
namespace {

using test::Bytes;
using test::PutU16;
using test::PutU32;
using test::PutU64;

Bytes Wide(const std::wstring& s) { return WideToUtf16Le(s); }

// A decoded record as the page decoders hand it over: fixed part of `length` bytes and variable columns.
struct RowHolder {
    Bytes fixed;
    std::vector<Bytes> variable;
    uint32_t recordType = 0;
    int32_t columnCount = 30;

    explicit RowHolder(size_t length) : fixed(length, 0) {}
    CatalogRow Row() const {
        CatalogRow row;
        row.recordType = recordType;
        row.hasFixed = !fixed.empty();
        row.fixed = ByteView(fixed);
        row.fixedLength = static_cast<int32_t>(fixed.size());
        row.columnCount = columnCount;
        for (const Bytes& v : variable) row.variable.push_back(ByteView(v));
        row.pageFileId = 1;
        return row;
    }
};

RowHolder ObjectRow(int32_t id, const char* type, uint32_t parent, const std::wstring* name, size_t length = 24) {
    RowHolder h(0);
    h.fixed = test::ObjectFixed(id, type, parent);
    h.fixed.resize(length, 0);
    if (name) h.variable.push_back(Wide(*name));
    return h;
}

RowHolder ColumnRow(uint32_t objectId, uint32_t columnId, uint8_t systemType, uint16_t maxLength, uint32_t status,
                    const std::wstring* name) {
    RowHolder h(0);
    h.fixed = test::ColumnFixed(objectId, columnId, systemType, maxLength, status);
    if (name) h.variable.push_back(Wide(*name));
    return h;
}

TEST(CatalogRecords, ObjectAndColumnDecodersKeepDefaultsAndRepairNames) {
    RepairCounter repair;
    ObjectRecord object;
    const std::wstring orders = L"Orders";
    ASSERT_TRUE(DecodeObjectRow(ObjectRow(117, "U ", 0, &orders).Row(), false, repair, object));
    EXPECT_EQ(object.id, 117);
    EXPECT_EQ(object.type, L"U ");
    EXPECT_EQ(object.name, L"Orders");

    // Unnamed object and unnamed column of one scan share the counter.
    ASSERT_TRUE(DecodeObjectRow(ObjectRow(118, "V ", 0, nullptr).Row(), false, repair, object));
    EXPECT_EQ(object.name, L"Repairname0");
    const std::wstring empty;
    ASSERT_TRUE(DecodeObjectRow(ObjectRow(119, "P ", 0, &empty).Row(), false, repair, object));
    EXPECT_EQ(object.name, L"Repairname1");  // an empty value has no data: the missing-name rule

    // Ids of 0 or below, short or absent fixed parts, and large-value fragments are not added.
    ObjectRecord dropped;
    EXPECT_FALSE(DecodeObjectRow(ObjectRow(0, "U ", 0, &orders).Row(), false, repair, dropped));
    EXPECT_FALSE(DecodeObjectRow(ObjectRow(-4, "S ", 0, &orders).Row(), false, repair, dropped));
    EXPECT_FALSE(DecodeObjectRow(ObjectRow(5, "U ", 0, &orders, 23).Row(), false, repair, dropped));
    EXPECT_FALSE(DecodeObjectRow(RowHolder(0).Row(), false, repair, dropped));
    RowHolder fragment = ObjectRow(5, "U ", 0, &orders);
    fragment.recordType = 4;
    EXPECT_FALSE(DecodeObjectRow(fragment.Row(), false, repair, dropped));
    EXPECT_EQ(repair.value, 2u);

    // Legacy layout: type at F+4, parent at F+24 when the fixed part has 28 bytes.
    RowHolder legacy(28);
    PutU32(legacy.fixed, 0, 300);
    legacy.fixed[4] = 'P';
    legacy.fixed[5] = 'K';
    PutU32(legacy.fixed, 15, 1);
    PutU32(legacy.fixed, 24, 299);
    legacy.variable.push_back(Wide(L"PK_x"));
    ASSERT_TRUE(DecodeObjectRow(legacy.Row(), true, repair, object));
    EXPECT_EQ(object.type, L"PK");
    EXPECT_EQ(object.parentId, 299u);
    legacy.fixed.resize(24);
    ASSERT_TRUE(DecodeObjectRow(legacy.Row(), true, repair, object));
    EXPECT_EQ(object.parentId, 1u);

    RepairCounter columns;
    ColumnRecord column;
    ASSERT_TRUE(DecodeColumnRow(ColumnRow(117, 1, 56, 4, 0, nullptr).Row(), columns, column));
    EXPECT_EQ(column.name, L"RepairColumn0");
    ASSERT_TRUE(DecodeColumnRow(ColumnRow(117, 2, 56, 4, 0, nullptr).Row(), columns, column));
    EXPECT_EQ(column.name, L"RepairColumn1");
    // A short record is still added, with its defaults and an empty name.
    RowHolder shortColumn(40);
    ColumnRecord defaults;
    ASSERT_TRUE(DecodeColumnRow(shortColumn.Row(), columns, defaults));
    EXPECT_EQ(defaults.name, L"");
    EXPECT_EQ(defaults.objectId, kAllBits32);
    RowHolder indexRecord = ColumnRow(117, 3, 56, 4, 0, nullptr);
    indexRecord.recordType = 3;
    EXPECT_FALSE(DecodeColumnRow(indexRecord.Row(), columns, defaults));
}

TEST(CatalogRecords, IdentityTextFromStoredValue) {
    auto identity = [](Bytes value, uint32_t status = 5) {
        const std::wstring name = L"id";
        RowHolder h = ColumnRow(117, 1, 56, 4, status, &name);
        h.variable.push_back(std::move(value));
        RepairCounter repair;
        ColumnRecord column;
        DecodeColumnRow(h.Row(), repair, column);
        return column.identityText;
    };
    Bytes eight(8, 0);
    PutU16(eight, 2, 100);
    PutU16(eight, 4, 5);
    EXPECT_EQ(identity(eight), L"identity(100,5)");
    EXPECT_EQ(identity(Bytes(4, 7)), L"identity(1,1)");
    Bytes twelve(12, 0);
    PutU32(twelve, 4, 10);
    EXPECT_EQ(identity(twelve), L"identity(10,1)");  // increment 0 becomes 1
    Bytes wide(24, 0);
    PutU32(wide, 0, 1);
    PutU64(wide, 8, static_cast<uint64_t>(-5));
    PutU64(wide, 16, 3);
    EXPECT_EQ(identity(wide), L"identity(-5,3)");
    Bytes narrow(24, 0);
    PutU32(narrow, 0, 1);
    PutU32(narrow, 4, 7);
    PutU32(narrow, 8, 2);
    EXPECT_EQ(identity(narrow), L"identity(7,2)");
    // NOT FOR REPLICATION adds a status bit; the column is an identity all the same.
    EXPECT_EQ(identity(eight, 0x10005), L"identity(100,5)");

    // Only the identity bit carries an identity; a status-1 column keeps an empty text.
    const std::wstring name = L"x";
    RowHolder other = ColumnRow(117, 1, 56, 4, 1, &name);
    other.variable.push_back(eight);
    RepairCounter repair;
    ColumnRecord column;
    DecodeColumnRow(other.Row(), repair, column);
    EXPECT_EQ(column.identityText, L"");
}

TEST(CatalogRecords, ShortRecordsKeepDefaults) {
    AllocationUnitRecord unit;
    ASSERT_TRUE(DecodeAllocationUnitRow(RowHolder(30).Row(), unit));
    EXPECT_EQ(unit.id, 0u);
    EXPECT_EQ(unit.type, 0xFF);
    EXPECT_TRUE(unit.HasNoPages());
    RowHolder full(41);
    PutU64(full.fixed, 0, 72057594039566336ull);
    full.fixed[8] = 1;
    PutU64(full.fixed, 9, 72057594038386688ull);
    PutU32(full.fixed, 23, 80);
    PutU16(full.fixed, 27, 1);
    ASSERT_TRUE(DecodeAllocationUnitRow(full.Row(), unit));
    EXPECT_EQ(unit.type, 1);
    EXPECT_EQ(unit.firstPageId, 80u);
    EXPECT_FALSE(unit.HasNoPages());

    RowsetRecord rowset;
    ASSERT_TRUE(DecodeRowsetRow(RowHolder(34).Row(), rowset));
    EXPECT_EQ(rowset.rowsetId, 0u);
    EXPECT_EQ(rowset.objectId, kAllBits32);

    TypeRecord type;
    EXPECT_FALSE(DecodeTypeRow(RowHolder(0).Row(), type));
    ASSERT_TRUE(DecodeTypeRow(RowHolder(37).Row(), type));
    EXPECT_EQ(type.typeId, kAllBits32);

    ObjectReferenceRecord reference;
    EXPECT_FALSE(DecodeObjectReferenceRow(RowHolder(20).Row(), reference));
    IndexRecord index;
    ASSERT_TRUE(DecodeIndexRow(RowHolder(10).Row(), index));
    EXPECT_EQ(index.rowsetId, kAllBits64);

    RowHolder legacyIndex(68);
    PutU32(legacyIndex.fixed, 0, 400);
    PutU16(legacyIndex.fixed, 14, 2);
    LegacyIndexEntry entry;
    EXPECT_FALSE(DecodeLegacyIndexRow(legacyIndex.Row(), entry));  // only index id 1 counts
    PutU16(legacyIndex.fixed, 14, 1);
    PutU32(legacyIndex.fixed, 8, 33);
    ASSERT_TRUE(DecodeLegacyIndexRow(legacyIndex.Row(), entry));
    EXPECT_EQ(entry.firstPageId, 33u);

    // The late legacy column fields need both the fixed length and 21 columns.
    RowHolder legacyColumn(43);
    legacyColumn.fixed[42] = 0;
    PutU32(legacyColumn.fixed, 34, 53256);
    legacyColumn.columnCount = 20;
    RepairCounter repair;
    LegacyColumnRecord column;
    ASSERT_TRUE(DecodeLegacyColumnRow(legacyColumn.Row(), repair, column));
    EXPECT_EQ(column.collationId, kAllBits32);
    EXPECT_EQ(column.nullability, 0xFF);
    legacyColumn.columnCount = 21;
    ASSERT_TRUE(DecodeLegacyColumnRow(legacyColumn.Row(), repair, column));
    EXPECT_EQ(column.collationId, 53256u);
    EXPECT_EQ(column.nullability, 0);

    // File list: names up to the first zero, trailing blanks gone; a short record keeps defaults.
    RowHolder file(782);
    PutU16(file.fixed, 4, 0xFFFE);
    Bytes logical = Wide(L"data  ");
    std::memcpy(&file.fixed[6], logical.data(), logical.size());
    Bytes path = Wide(L"C:\\x\\a.ndf");
    std::memcpy(&file.fixed[262], path.data(), path.size());
    DataFileEntry entryOut;
    ASSERT_TRUE(DecodeDatabaseFileRow(file.Row(), entryOut));
    EXPECT_EQ(entryOut.fileId, 0xFFFFFFFEu);  // sign-extended
    EXPECT_EQ(entryOut.logicalName, L"data");
    EXPECT_EQ(entryOut.path, L"C:\\x\\a.ndf");
    DataFileEntry shortEntry;
    ASSERT_TRUE(DecodeDatabaseFileRow(RowHolder(100).Row(), shortEntry));
    EXPECT_EQ(shortEntry.fileId, 0u);
}

}  // namespace
}  // namespace kestrane
