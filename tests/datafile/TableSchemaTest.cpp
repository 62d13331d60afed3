// Catalogue queries and the schema of one table over a catalogue filled in code.
#include <gtest/gtest.h>

#include <array>

#include "CatalogFixtures.h"
#include "datafile/MetadataCatalog.h"
#include "datafile/SystemTableScanner.h"
#include "platform/RunState.h"
#include "sqltext/SqlNames.h"

namespace kestrane {
namespace {

using namespace test;

// A table "T" (id 500) with columns 3, 1, 2 in the column table and a primary key on column 1.
struct Fixture {
    RunState state{""};
    CMetadataCatalog catalog{nullptr, state};

    Fixture() {
        catalog.objects = {Object(500, L"T", L"U "), Object(501, L"PK_T", L"PK", 500), Object(502, L"V", L"V "),
                           Object(600, L"R", L"U ")};
        catalog.types = {Type(56, L"int"), Type(231, L"nvarchar"), Type(240, L"geography"), Type(34, L"image")};
        catalog.columns = {Column(500, 3, L"c", 231, 0xFFFF), Column(500, 1, L"a", 56, 4, 0x01),
                           Column(500, 2, L"b", 56, 4, 0x08), Column(600, 1, L"rid", 56, 4),
                           Column(500, 9, L"skipped", 0, 0)};
        catalog.rowsets = {Rowset(7000, 500, 1), Rowset(7001, 500, 2), Rowset(8000, 600, 1)};
        IndexRecord index;
        index.objectId = 500;
        index.indexId = 1;
        index.status = 0x01 | 0x20;
        index.rowsetId = 7000;
        catalog.indexes = {index};
        IndexColumnRecord key;
        key.objectId = 500;
        key.indexId = 1;
        key.columnId = 1;
        key.keyPosition = 1;
        catalog.indexColumns = {key};
    }
};

TEST(TableSchema, ColumnsComeBackInColumnIdOrderWithTheirFlags) {
    Fixture f;
    const ColumnDefList columns = f.catalog.BuildObjectLists(L"T", L"U ", {});
    ASSERT_EQ(columns.size(), 3u);  // the column of system type 0 is left out
    EXPECT_EQ(columns[0].name, L"a");
    EXPECT_EQ(columns[1].name, L"b");
    EXPECT_EQ(columns[2].name, L"c");
    EXPECT_EQ(columns[2].typeText, L"nvarchar(-1)");
    EXPECT_EQ(columns[0].nullable, 0);
    EXPECT_EQ(columns[1].nullable, 1);
    EXPECT_EQ(columns[1].status08Flag, 1);
    EXPECT_EQ(columns[0].keyFlag, 1);
    EXPECT_EQ(columns[1].keyFlag, 0);
    // No rowset-column records: every column keeps its id as ordinal and is in the layout.
    for (const ColumnDef& def : columns) {
        EXPECT_EQ(def.ordinal, static_cast<int32_t>(def.columnId));
        EXPECT_EQ(def.inLayout, 1);
    }
    EXPECT_EQ(f.catalog.currentRowset.rowsetId, 7000u);  // index id 1 wins over 2
    EXPECT_EQ(f.catalog.schemaBuilt, 1);
    ASSERT_EQ(f.catalog.keyColumns.size(), 1u);
    EXPECT_EQ(f.catalog.keyColumns[0].columnName, L"a");
    ASSERT_EQ(f.catalog.keyConstraints.size(), 1u);
    EXPECT_EQ(f.catalog.keyConstraints[0].primaryKey, 1);

    // The same table again gives the same list and no second key entry; another table overwrites the
    // per-table state.
    EXPECT_EQ(f.catalog.BuildObjectLists(L"T", L"U ", {}).size(), 3u);
    EXPECT_EQ(f.catalog.keyColumns.size(), 1u);
    EXPECT_EQ(f.catalog.BuildObjectLists(L"R", L"U ", {}).size(), 1u);
    EXPECT_EQ(f.catalog.currentObject.id, 600);
}

TEST(TableSchema, TablesOfOneNameInTwoSchemasAreBuiltByTheirIds) {
    Fixture f;
    // Another schema's "T" (id 700): one column, its own key.
    f.catalog.objects.push_back(Object(700, L"T", L"U "));
    f.catalog.columns.push_back(Column(700, 1, L"z", 56, 4));
    f.catalog.rowsets.push_back(Rowset(9000, 700, 1));
    IndexRecord index = f.catalog.indexes[0];
    index.objectId = 700;
    index.rowsetId = 9000;
    f.catalog.indexes.push_back(index);
    IndexColumnRecord key = f.catalog.indexColumns[0];
    key.objectId = 700;
    f.catalog.indexColumns.push_back(key);

    const ColumnDefList other = f.catalog.BuildTableLists(700, {});
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].name, L"z");
    EXPECT_EQ(f.catalog.currentRowset.rowsetId, 9000u);
    EXPECT_EQ(f.catalog.BuildTableLists(500, {}).size(), 3u);
    EXPECT_EQ(f.catalog.currentObject.id, 500);
    // Each keeps its key columns: building one "T" does not drop the other's.
    ASSERT_EQ(f.catalog.keyColumns.size(), 2u);
    EXPECT_EQ(f.catalog.keyColumns[0].tableId, 700u);
    EXPECT_EQ(f.catalog.keyColumns[0].columnName, L"z");
    EXPECT_EQ(f.catalog.keyColumns[1].tableId, 500u);
    // Only a user table is built by id.
    EXPECT_TRUE(f.catalog.BuildTableLists(501, {}).empty());
    EXPECT_TRUE(f.catalog.BuildTableLists(4242, {}).empty());
}

TEST(TableSchema, NonTablesAndUnknownNames) {
    Fixture f;
    const ColumnDefList pk = f.catalog.BuildObjectLists(L"PK_T", L"PK", {});
    ASSERT_EQ(pk.size(), 3u);
    EXPECT_EQ(pk[0].definitionText, L"501");
    EXPECT_EQ(pk[1].definitionText, L"PK");
    EXPECT_EQ(pk[2].definitionText, L"PK_T");
    EXPECT_EQ(f.catalog.schemaBuilt, 0);
    EXPECT_TRUE(f.catalog.tableSchema.empty());

    EXPECT_TRUE(f.catalog.BuildObjectLists(L"nope", L"U ", {}).empty());
    EXPECT_TRUE(f.catalog.tableSchema.empty());
    // A view is found whatever type is asked for; a user table is not found as a system table.
    EXPECT_EQ(f.catalog.FindTableObject(L"V", L"U ").id, 502);
    EXPECT_EQ(f.catalog.FindTableObject(L"T", L"S ").id, -1);
}

TEST(TableSchema, ComputedColumnTakesItsDefinition) {
    Fixture f;
    for (uint32_t id : {1u, 2u}) {
        RowsetColumnRecord stored;
        stored.rowsetId = 7000;
        stored.columnId = id;
        stored.ordinal = id;
        stored.leafOffset = 4 + 4 * (id - 1);
        stored.nullBitIndex = id;
        f.catalog.rowsetColumns.push_back(stored);
    }
    // "0x" + UTF-16 of "(a+1)"; an 8-bit text and a different table's entry around it.
    const std::vector<StringTriple> definitions = {
        {L"500", L"3", L"0x28612B3129"}, {L"500", L"3", L"0x280061002B00310029002900"}, {L"600", L"3", L"0x41"}};
    const ColumnDefList columns = f.catalog.BuildObjectLists(L"T", L"U ", definitions);
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[0].leafOffset, 4);
    EXPECT_EQ(columns[1].nullBitmapIndex, 2);
    EXPECT_EQ(columns[2].inLayout, 0);
    EXPECT_EQ(columns[2].ordinal, kOrdinalNotStored);
    EXPECT_EQ(columns[2].definitionText, L"(a+1))");  // the last matching triple wins
    EXPECT_EQ(f.catalog.firstColumnIndex, 0u);
}

// One object 9 row (class, rowset, place, value number), decoded as the scanner decodes it; kept when
// the decoder takes it.
void AddStoredValue(CMetadataCatalog& catalog, const std::array<uint64_t, 4>& key, bool ghost,
                    const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> fixed(21, 0);
    fixed[0] = static_cast<uint8_t>(key[0]);
    for (int i = 0; i < 8; ++i) {
        fixed[1 + i] = static_cast<uint8_t>(key[1] >> (8 * i));
        fixed[9 + i] = static_cast<uint8_t>(key[2] >> (8 * i));
        if (i < 4) fixed[17 + i] = static_cast<uint8_t>(key[3] >> (8 * i));
    }
    CatalogRow catalogRow;
    catalogRow.hasFixed = true;
    catalogRow.fixed = ByteView(fixed);
    catalogRow.fixedLength = 21;
    catalogRow.variable = {ByteView(bytes)};
    catalogRow.complex = {0};
    catalogRow.ghost = ghost;
    RowsetColumnValueRecord value;
    if (DecodeRowsetColumnValueRow(catalogRow, value)) catalog.rowsetColumnValues.push_back(value);
}

// What a row written before a column existed holds for it (object 9), the leaf half of a NULL-bit
// entry, and the default constraint named by the column table.
TEST(TableSchema, StoredDefaultsLeafNullBitsAndDefaultConstraints) {
    Fixture f;
    for (uint32_t id : {1u, 2u, 3u}) {
        RowsetColumnRecord stored;
        stored.rowsetId = 7000;
        stored.columnId = id;
        stored.ordinal = id;
        stored.leafOffset = 4 * id;
        stored.nullBitIndex = id << 16 | id;  // index rows' bit above, leaf rows' bit below
        f.catalog.rowsetColumns.push_back(stored);
    }
    f.catalog.columns[2].defaultObjectId = 77;
    const std::vector<uint8_t> variant{231, 1, 8, 0, 9, 4, 0xD0, 0, 'h', 0, 'i', 0};
    AddStoredValue(f.catalog, {1, 7000, 3, 0}, false, variant);
    AddStoredValue(f.catalog, {1, 7000, 2, 1}, false, variant);
    AddStoredValue(f.catalog, {1, 7000, 1, 0}, true, variant);
    AddStoredValue(f.catalog, {1, 7001, 1, 0}, false, variant);
    ASSERT_EQ(f.catalog.rowsetColumnValues.size(), 2u);  // not value number 1, not a deleted row
    const ColumnDefList columns = f.catalog.BuildObjectLists(L"T", L"U ", {});
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[1].nullBitmapIndex, 2);
    EXPECT_EQ(columns[1].hasDefault, 1);
    EXPECT_EQ(columns[0].hasDefault, 0);
    EXPECT_EQ(columns[0].hasStoredDefault, 0);  // the value of another rowset's column 1
    EXPECT_EQ(columns[2].hasStoredDefault, 1);
    EXPECT_EQ(columns[2].storedDefault, variant);
}

// After a dropped column the rowset places run ahead of the column ids; object 9 keys by place, and
// only value class 1 holds the value of older rows.
TEST(TableSchema, StoredDefaultFollowsTheRowsetPlaceAfterADroppedColumn) {
    Fixture f;
    const std::vector<std::pair<uint32_t, uint32_t>> layout = {{1, 1}, {0x04000001, 2}, {2, 3}, {3, 4}};
    for (const auto& [id, place] : layout) {
        RowsetColumnRecord stored;
        stored.rowsetId = 7000;
        stored.columnId = id;
        stored.ordinal = place;
        stored.leafOffset = 4 * place;
        stored.nullBitIndex = place;
        f.catalog.rowsetColumns.push_back(stored);
    }
    const std::vector<uint8_t> two{56, 1, 2, 0, 0, 0}, three{56, 1, 3, 0, 0, 0}, other{56, 1, 9, 0, 0, 0};
    AddStoredValue(f.catalog, {1, 7000, 3, 0}, false, two);
    AddStoredValue(f.catalog, {1, 7000, 4, 0}, false, three);
    AddStoredValue(f.catalog, {2, 7000, 1, 0}, false, other);
    ASSERT_EQ(f.catalog.rowsetColumnValues.size(), 2u);
    const ColumnDefList columns = f.catalog.BuildObjectLists(L"T", L"U ", {});
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[0].hasStoredDefault, 0);
    EXPECT_EQ(columns[1].storedDefault, two);
    EXPECT_EQ(columns[2].storedDefault, three);
}

TEST(TableSchema, AlternativeRowsetColumnsPlaceColumns) {
    Fixture f;
    auto alt = [](uint32_t columnId, uint16_t leaf, uint16_t nullBit) {
        RowsetColumnAltRecord r;
        r.rowsetId = 7000;
        r.columnId = columnId;
        r.leafOffset = leaf;
        r.nullBitIndex = nullBit;
        return r;
    };
    f.catalog.rowsetColumnsAlt = {alt(1, 4, 1), alt(2, 8, 2), alt(3, 0xFFFF, 3), alt(77, 12, 4)};
    RowsetColumnOrdinalRecord ordinal;
    ordinal.rowsetId = 7000;
    for (uint32_t id : {1u, 2u, 3u, 77u}) {
        ordinal.columnId = id;
        ordinal.ordinal = id;
        f.catalog.rowsetColumnOrdinals.push_back(ordinal);
    }
    // Column 77 is stored but named nowhere: without a definition it is no column of the table.
    ColumnDefList columns = f.catalog.BuildObjectLists(L"T", L"U ", {});
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[1].leafOffset, 8);
    EXPECT_EQ(columns[2].leafOffset, -1);
    EXPECT_EQ(columns[2].ordinal, 3);
    EXPECT_EQ(columns[2].inLayout, 1);
    // With a definition under the key "0" it is kept as a column without place.
    columns = f.catalog.BuildObjectLists(L"T", L"U ", {{L"500", L"0", L"0x41"}});
    ASSERT_EQ(columns.size(), 4u);
    EXPECT_EQ(columns[3].ordinal, kOrdinalNotStored);
    EXPECT_EQ(columns[3].definitionText, L"A");
}

TEST(TableSchema, CatalogueQueries) {
    Fixture f;
    // Rowsets: only index id 2 left, with an index record naming a rowset: index rowset mode.
    f.catalog.rowsets = {Rowset(7001, 500, 2)};
    f.catalog.indexRowsetMode = 0;
    EXPECT_EQ(f.catalog.FindTableRowset(500).rowsetId, 7001u);
    EXPECT_EQ(f.catalog.indexRowsetMode, 1);
    EXPECT_EQ(f.catalog.FindTableRowset(999).rowsetId, 0u);

    // Missing objects: one per table id of the column list.
    f.catalog.objects.clear();
    f.catalog.columns = {Column(5, 1, L"x", 56, 4), Column(5, 2, L"y", 56, 4), Column(7, 1, L"z", 56, 4)};
    f.catalog.AddMissingObjects();
    ASSERT_EQ(f.catalog.objects.size(), 2u);
    EXPECT_EQ(f.catalog.objects[0].name, L"5");
    EXPECT_EQ(f.catalog.objects[1].name, L"7");
    EXPECT_EQ(f.catalog.objects[1].type, L"U ");

    bool wide = false;
    EXPECT_EQ(CMetadataCatalog::ReadObjectDefinition(L"0x4100", wide), (std::vector<uint8_t>{0x41, 0x00}));
    EXPECT_TRUE(wide);
    EXPECT_EQ(CMetadataCatalog::ReadObjectDefinition(L"0x41", wide), (std::vector<uint8_t>{0x41}));
    EXPECT_FALSE(wide);
    EXPECT_EQ(CMetadataCatalog::ReadObjectDefinition(L"0xab", wide), (std::vector<uint8_t>{0x00}));
    EXPECT_TRUE(CMetadataCatalog::ReadObjectDefinition(L"0", wide).empty());
    EXPECT_EQ(CMetadataCatalog::ReadObjectDefinition(L"0x123", wide), (std::vector<uint8_t>{0x12, 0x30}));

    f.catalog.types = {Type(257, L"Phone", 1, 231, 100), Type(258, L"Memo", 1, 231, 0xFFFF), Type(259, L"Num", 1, 56, 4),
                       Type(260, L"Odd", 1, 200, 4), Type(261, L"x] from int --", 1, 56, 4),
                       Type(262, std::wstring(L"a\r\nGO\r\n:!!id\0b", 14), 1, 56, 4),
                       Type(56, L"int")};
    EXPECT_TRUE(f.catalog.ScriptUserTypes(BracketedName));
    EXPECT_EQ(f.catalog.typeStatements, (std::vector<std::wstring>{L"Create type [Phone] from NVarchar(50)",
                                                                    L"Create type [Memo] from NVarchar(max)",
                                                                    L"Create type [Num] from Int",
                                                                    L"Create type [x]] from int --] from Int",
                                                                    L"Create type [aGO:!!idb] from Int"}));
}

TEST(TableSchema, ForeignKeysFromObjectReferences) {
    Fixture f;
    f.catalog.objects.push_back(Object(700, L"FK_R_T", L"F ", 600));
    ObjectReferenceRecord referencing;
    referencing.refClass = 28;
    referencing.referencingId = 700;
    referencing.referencingSubId = 1;
    referencing.referencedId = 600;
    referencing.referencedSubId = 1;
    ObjectReferenceRecord referenced = referencing;
    referenced.refClass = 29;
    referenced.referencedId = 500;
    referenced.referencedSubId = 1;
    f.catalog.objectReferences = {referencing, referenced};
    f.catalog.BuildForeignKeys();
    ASSERT_EQ(f.catalog.foreignKeys.size(), 1u);
    const ForeignKeyRecord& key = f.catalog.foreignKeys[0];
    EXPECT_EQ(key.name, L"FK_R_T");
    EXPECT_EQ(key.referencingTableName, L"R");
    EXPECT_EQ(key.referencingColumnName, L"rid");
    EXPECT_EQ(key.referencedTableName, L"T");
    EXPECT_EQ(key.referencedColumnName, L"a");

    const ColumnDefList columns = f.catalog.BuildObjectLists(L"R", L"U ", {});
    ASSERT_EQ(columns.size(), 1u);
    EXPECT_EQ(columns[0].foreignKeyFlag, 1);
    EXPECT_EQ(columns[0].referencedTable, L"T");
    EXPECT_EQ(columns[0].referencedColumn, L"a");
}

TEST(TableSchema, LegacyLayoutReadsTheLegacyColumns) {
    Fixture f;
    f.state.legacyCatalog = 1;
    auto legacyColumn = [](uint16_t number, const std::wstring& name, uint8_t systemType, uint16_t length) {
        LegacyColumnRecord c;
        c.objectId = 500;
        c.name = name;
        c.systemTypeId = systemType;
        c.userTypeId = systemType;
        c.maxLength = length;
        c.columnNumber = number;
        c.leafOffset = static_cast<uint16_t>(4 * number);
        c.leafOffset2 = 9;
        c.nullability = 0;
        c.collationId = 7;
        return c;
    };
    f.catalog.legacyColumns = {legacyColumn(2, L"b", 34, 16), legacyColumn(1, L"a", 56, 4), legacyColumn(1, L"dup", 56, 4)};
    const ColumnDefList columns = f.catalog.BuildObjectLists(L"T", L"U ", {});
    ASSERT_EQ(columns.size(), 2u);  // the repeated column number is kept once
    EXPECT_EQ(columns[0].name, L"a");
    EXPECT_EQ(columns[0].leafOffset, 4);
    EXPECT_EQ(columns[0].leafOffset2, 9);
    EXPECT_EQ(columns[0].nullable, 1);
    EXPECT_EQ(columns[0].collationId, 7);
    EXPECT_EQ(columns[1].typeCode, uint32_t(kTypeImage));
    EXPECT_EQ(columns[1].typeText, L"image(16)");
    ASSERT_EQ(f.catalog.keyConstraints.size(), 1u);
    EXPECT_EQ(f.catalog.keyConstraints[0].id, 500u);  // the parent id in the legacy layout
}

}  // namespace
}  // namespace kestrane
