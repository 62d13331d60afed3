#include <gtest/gtest.h>

#include "SqlTextFixtures.h"
#include "sqltext/ColumnTypeText.h"
#include "sqltext/CreateTableText.h"
#include "sqltext/SqlNames.h"

namespace kestrane {
namespace {

using test::Column;

std::wstring Db(const ColumnDef& c, uint8_t legacy = 0) {
    RunState state("");
    state.legacyCatalog = legacy;
    return ColumnTypeToSql(c, state);
}

TEST(ColumnTypeText, LengthsMaxAndHalvingFollowTheStoredByteLength) {
    EXPECT_EQ(Db(Column(L"c", L"varchar(-1)", kTypeVarChar)), L"varchar(max)");
    EXPECT_EQ(Db(Column(L"c", L"varchar(9000)", kTypeVarChar)), L"varchar(8000)");
    EXPECT_EQ(Db(Column(L"c", L"varchar", kTypeVarChar)), L"varchar(8000)");
    EXPECT_EQ(Db(Column(L"c", L"varchar(50)", kTypeVarChar)), L"varchar(50)");
    EXPECT_EQ(Db(Column(L"c", L"nvarchar(-1)", kTypeNVarChar)), L"nvarchar(max)");
    EXPECT_EQ(Db(Column(L"c", L"nvarchar(-1)", kTypeNVarChar), 1), L"nvarchar(4000)");
    EXPECT_EQ(Db(Column(L"c", L"nvarchar(8000)", kTypeNVarChar)), L"nvarchar(4000)");
    EXPECT_EQ(Db(Column(L"c", L"nvarchar(4000)", kTypeNVarChar)), L"nvarchar(4000)");
    EXPECT_EQ(Db(Column(L"c", L"nvarchar(3998)", kTypeNVarChar)), L"nvarchar(1999)");
    EXPECT_EQ(Db(Column(L"c", L"nchar(20)", kTypeNChar)), L"nchar(10)");
    EXPECT_EQ(Db(Column(L"c", L"varbinary(-1)", kTypeVarBinary), 1), L"varbinary(4000)");

    ColumnDef sparseBlob = Column(L"c", L"varbinary(-1)", kTypeVarBinary);
    sparseBlob.sparse = 1;
    EXPECT_EQ(Db(sparseBlob), L"varbinary(max)");
    ColumnDef sparseInt = Column(L"c", L"int(4)", kTypeInt);
    sparseInt.sparse = 1;
    EXPECT_EQ(Db(sparseInt), L"int  SPARSE");
    sparseInt.typeCode = kTypeNText;
    EXPECT_EQ(Db(sparseInt), L"ntext");
}

TEST(ColumnTypeText, ExactNumericsDatesAndFlavoursByCode) {
    ColumnDef dec = Column(L"c", L"decimal(9)", kTypeDecimal);
    dec.precision = 18;
    dec.scale = 2;
    EXPECT_EQ(Db(dec), L"decimal(18, 2)");
    dec.typeCode = kTypeNumeric;
    EXPECT_EQ(Db(dec), L"numeric(18, 2)");
    dec.scale = 20;
    EXPECT_EQ(Db(dec), L"char(45)");
    dec.scale = 0;
    dec.precision = 0;
    EXPECT_EQ(Db(dec), L"char(45)");

    ColumnDef t = Column(L"c", L"datetime2(8)", kTypeDateTime2);
    t.scale = 7;
    EXPECT_EQ(Db(t), L"DateTime2(7)");
    t.typeCode = kTypeTime;
    EXPECT_EQ(Db(t), L"time(7)");

    RunState state("");
    ColumnDef stamp = Column(L"c", L"timestamp(8)", kTypeTimestamp);
    EXPECT_EQ(ColumnTypeToSql(stamp, state), L"char(22)");
    EXPECT_EQ(ColumnTypeToSqlScript(stamp, state), L"varbinary(20)");
    EXPECT_EQ(Db(Column(L"c", L"x(4)", kTypeUnused12)), L"");
    EXPECT_EQ(Db(Column(L"c", L"x(4)", 40)), L"text");
    EXPECT_EQ(Db(Column(L"c", L"x(4)", kTypeHierarchyId)), L"hierarchyid");
}

TEST(CreateTableText, OrdersExampleAndIdentityFlagPerFlavour) {
    RunState state("");
    EXPECT_EQ(BuildCreateTableSql(test::OrdersColumns(), L"Orders", state),
              L"Create TABLE  [Orders]([id] int identity(1,1)  not null ,[name] nvarchar(50),[price] money  not null )");
    EXPECT_EQ(state.identityColumnSeen, 1);

    std::wstring script = BuildCreateTableScript(test::OrdersColumns(), L"Orders", state);
    EXPECT_EQ(script, L"Create TABLE  [Orders]([id] int identity(1,1)  not null ,[name] nvarchar(50),[price] money  not null )"
                      L"\r\n GO\r\nSET IDENTITY_INSERT Orders ON");
    EXPECT_EQ(state.identityColumnSeen, 1);

    // The next table without an identity clears the flag.
    EXPECT_EQ(BuildCreateTableScript({Column(L"a", L"int(4)", kTypeInt)}, L"B", state), L"Create TABLE  [B]([a] int)");
    EXPECT_EQ(state.identityColumnSeen, 0);

    // Legacy catalogue: NOT NULL columns get no clause; key columns keep theirs only in the database text.
    state.legacyCatalog = 1;
    ColumnDefList keyed = test::OrdersColumns();
    keyed[0].keyFlag = 1;
    EXPECT_EQ(BuildCreateTableSql(keyed, L"O", state),
              L"Create TABLE  [O]([id] int identity(1,1)  not null ,[name] nvarchar(50),[price] money)");
    EXPECT_EQ(BuildCreateTableScript(keyed, L"O", state), L"Create TABLE  [O]([id] int,[name] nvarchar(50),[price] money)");
    EXPECT_EQ(state.identityColumnSeen, 0);
}

TEST(CreateTableText, NamesComputedColumnsAndRowGuid) {
    RunState state("");
    ColumnDefList same = {Column(L"a", L"int(4)", kTypeInt), Column(L"a", L"int(4)", kTypeInt), Column(L"a", L"int(4)", kTypeInt),
                          Column(L"- -", L"int(4)", kTypeInt), Column(L"a_", L"int(4)", kTypeInt)};
    EXPECT_EQ(BuildCreateTableSql(same, L"T", state),
              L"Create TABLE  [T]([a] int,[a_] int,[a__] int,[Repaircln3] int,[a___] int)");

    ColumnDef computed = Column(L"c", L"int(4)", kTypeInt);
    computed.ordinal = kOrdinalNotStored;
    computed.valueText = L"([a]+(1))";
    ColumnDef bell = computed;
    bell.valueText = L"\x07";
    ColumnDef guid = Column(L"g", L"uniqueidentifier(16)", kTypeUniqueIdentifier, 0);
    guid.status08Flag = 1;
    EXPECT_EQ(BuildCreateTableSql({Column(L"a", L"int(4)", kTypeInt), computed, bell, guid}, L"T", state),
              L"Create TABLE  [T]([a] int,[c] AS ([a]+(1)),[g] uniqueidentifier ROWGUIDCOL   not null )");
    EXPECT_EQ(BuildCreateTableScript({bell}, L"T", state), L"Create TABLE  [T]([c] AS \x07)");

    ColumnDef empty = computed;
    empty.valueText.clear();
    EXPECT_EQ(BuildCreateTableSql({empty, bell}, L"T", state), L"");
    EXPECT_EQ(BuildCreateTableScript({}, L"T", state), L"");

    // A table name cannot close its brackets, nor inject into the SET IDENTITY_INSERT line.
    ColumnDefList orders = test::OrdersColumns();
    EXPECT_EQ(BuildCreateTableScript(orders, L"x]; DROP TABLE y --", state).substr(0, 40),
              L"Create TABLE  [x]]; DROP TABLE y --]([id");
    EXPECT_NE(BuildCreateTableScript(orders, L"Order Details", state).find(L"SET IDENTITY_INSERT [Order Details] ON"),
              std::wstring::npos);
    EXPECT_EQ(IdentityInsertTableName(L"Order"), L"[Order]");
    EXPECT_EQ(IdentityInsertTableName(L"tbl_Order1"), L"tbl_Order1");
}

TEST(SqlNames, SanitizerDatabaseNameAndSafePathComponents) {
    EXPECT_EQ(SanitizeSqlIdentifier(L"a.b!c[d]e`f g-h\x01\x1fi"), L"abcdefghi");
    EXPECT_EQ(SanitizeSqlIdentifier(L"- -"), L"");
    EXPECT_EQ(DatabaseNameFromFilePath(L"C:\\Data\\My-Db 2.mdf"), L"MyDb2");
    EXPECT_EQ(DatabaseNameFromFilePath(L"D:\\x\\Sales.Mdf"), L"Sales.Mdf");
    EXPECT_EQ(DatabaseNameFromFilePath(L"/srv/data/Sales.MDF"), L"Sales");
    EXPECT_EQ(DatabaseNameFromFilePath(L"pubs.mdf"), L"pubs");
    EXPECT_EQ(EscapeQuotedText(L"O'Brien"), L"O''Brien");

    EXPECT_EQ(SafePathComponent(L".."), L"_..");
    EXPECT_EQ(SafePathComponent(L"."), L"_.");
    EXPECT_EQ(SafePathComponent(L""), L"_");
    EXPECT_EQ(SafePathComponent(L"../../etc/passwd"), L".._.._etc_passwd");
    EXPECT_EQ(SafePathComponent(L"a\\b\x01\"c:d"), L"a_b__c_d");
    EXPECT_EQ(SafePathComponent(L"Orders"), L"Orders");
    for (const wchar_t* name : {L"..", L".", L"", L"a/b", L"..\\x"})
        EXPECT_EQ(SafePathComponent(SafePathComponent(name)), SafePathComponent(name));
}

}  // namespace
}  // namespace kestrane
