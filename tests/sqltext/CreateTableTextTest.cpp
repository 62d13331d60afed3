#include <gtest/gtest.h>

#include "SqlTextFixtures.h"
#include "sqltext/ColumnTypeText.h"
#include "sqltext/CreateTableText.h"
#include "platform/TextCodec.h"
#include "sqltext/SqlNames.h"

namespace kestrane {
namespace {

using test::Column;

TEST(ColumnTypeText, LengthsStayWithinWhatTheServerAccepts) {
    RunState state("");
    auto db = [&](const ColumnDef& c) { return ColumnTypeToSql(c, state); };
    EXPECT_EQ(db(Column(L"c", L"nvarchar(-1)", kTypeNVarChar)), L"nvarchar(max)");
    EXPECT_EQ(db(Column(L"c", L"nvarchar(8000)", kTypeNVarChar)), L"nvarchar(4000)");
    EXPECT_EQ(db(Column(L"c", L"varchar(9000)", kTypeVarChar)), L"varchar(8000)");
    EXPECT_EQ(db(Column(L"c", L"varchar", kTypeVarChar)), L"varchar(8000)");
    ColumnDef dec = Column(L"c", L"decimal(9)", kTypeDecimal);
    dec.precision = 18;
    dec.scale = 19;  // no such scale: the value goes to a text column instead
    EXPECT_EQ(db(dec), L"char(45)");
    ColumnDef stamp = Column(L"c", L"timestamp(8)", kTypeTimestamp);
    EXPECT_EQ(db(stamp), L"char(22)");
    EXPECT_EQ(ColumnTypeToSqlScript(stamp, state), L"varbinary(20)");
    state.legacyCatalog = 1;
    EXPECT_EQ(db(Column(L"c", L"nvarchar(-1)", kTypeNVarChar)), L"nvarchar(4000)");
    // A user type's name (from the data file) leads the type text: only the length number is kept.
    EXPECT_EQ(db(Column(L"c", L"t(1\r\nGO\r\nDROP DATABASE d --(10)", kTypeVarChar)), L"varchar(1)");
}

TEST(CreateTableText, OrdersExampleAndIdentityFlagPerFlavour) {
    RunState state("");
    const std::wstring orders =
        L"Create TABLE  [Orders]([id] int identity(1,1)  not null ,[name] nvarchar(50),[price] money  not null )";
    EXPECT_EQ(BuildCreateTableSql(test::OrdersColumns(), L"Orders", state), orders);
    EXPECT_EQ(state.identityColumnSeen, 1);
    EXPECT_EQ(BuildCreateTableScript(test::OrdersColumns(), L"Orders", state),
              orders + L"\r\n GO\r\nSET IDENTITY_INSERT Orders ON");
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
}

TEST(CreateTableText, ColumnNamesComputedColumnsAndHostileTableNames) {
    RunState state("");
    const ColumnDef a = Column(L"a", L"int(4)", kTypeInt);
    // Each name is compared with every name given before it, so a, a_, a stays unique.
    EXPECT_EQ(BuildCreateTableSql({a, a, a, Column(L"- -", L"int(4)", kTypeInt), Column(L"a_", L"int(4)", kTypeInt)}, L"T", state),
              L"Create TABLE  [T]([a] int,[a_] int,[a__] int,[Repaircln3] int,[a___] int)");

    ColumnDef computed = Column(L"c", L"int(4)", kTypeInt);
    computed.ordinal = kOrdinalNotStored;
    computed.definitionText = L"([a]+(1))";
    ColumnDef bell = computed;
    bell.definitionText = L"\x07";
    EXPECT_EQ(BuildCreateTableSql({a, computed, bell}, L"T", state), L"Create TABLE  [T]([a] int,[c] AS ([a]+(1)))");
    EXPECT_EQ(BuildCreateTableScript({bell}, L"T", state), L"");  // not an expression: left out of both
    EXPECT_EQ(BuildCreateTableSql({bell}, L"T", state), L"");  // nothing to create
    // A definition (from the data file) that could end the statement or the batch is left out.
    for (const wchar_t* hostile : {L"1); DROP TABLE x --", L"(1)\r\nGO\r\nDROP TABLE x", L"(')'", L"([a)]]]) --",
                                   L"([a]+(1)) DROP TABLE x", L"((1)) constraint d default 1"}) {
        computed.definitionText = hostile;
        EXPECT_EQ(BuildCreateTableSql({a, computed}, L"T", state), L"Create TABLE  [T]([a] int)") << WideToUtf8(hostile);
    }
    computed.definitionText = L"(N'a;b--)'+[c]]d;])";
    EXPECT_EQ(BuildCreateTableSql({computed}, L"T", state), L"Create TABLE  [T]([c] AS (N'a;b--)'+[c]]d;]))");

    // A table name cannot close its brackets, nor inject into the SET IDENTITY_INSERT line.
    const ColumnDefList orders = test::OrdersColumns();
    EXPECT_EQ(BuildCreateTableScript(orders, L"x]; DROP TABLE y --", state).substr(0, 40),
              L"Create TABLE  [x]]; DROP TABLE y --]([id");
    EXPECT_NE(BuildCreateTableScript(orders, L"Order", state).find(L"SET IDENTITY_INSERT [Order] ON"), std::wstring::npos);
    EXPECT_NE(BuildCreateTableScript(orders, L"a]b c", state).find(L"SET IDENTITY_INSERT [a]]b c] ON"), std::wstring::npos);
    // Control characters (NUL too) leave every name: no script line starts inside one, no driver cuts it.
    const std::wstring crafted(L"a\r\nGO\r\n\0:!!id]", 14);
    const std::wstring script = BuildCreateTableScript({Column(crafted, L"int(4)", kTypeInt)}, crafted, state);
    EXPECT_EQ(script, L"Create TABLE  [aGO:!!id]]]([aGO:id] int)");
    EXPECT_EQ(script.find_first_of(std::wstring(L"\r\n\0", 3)), std::wstring::npos);
}

TEST(SqlNames, DatabaseNamesAndPathComponentsFromTheDataFile) {
    EXPECT_EQ(DatabaseNameFromFilePath(L"C:\\Data\\My-Db 2.mdf"), L"MyDb2");
    EXPECT_EQ(DatabaseNameFromFilePath(L"/srv/data/Sales.MDF"), L"Sales");
    EXPECT_EQ(SafePathComponent(L"../../etc/passwd"), L".._.._etc_passwd");
    EXPECT_EQ(SafePathComponent(L"a\\b\x01\"c:d"), L"a_b__c_d");
    EXPECT_EQ(SafePathComponent(L"a. "), L"a__");  // Windows would drop the trailing dot and blank
    EXPECT_EQ(SafePathComponent(L"con.sql"), L"_con.sql");
    EXPECT_EQ(SafePathComponent(L"COM1"), L"_COM1");
    EXPECT_EQ(SafePathComponent(L"COM10"), L"COM10");
    EXPECT_EQ(SafePathComponent(L"x\x85y"), L"x_y");
    // One quoting path for names; control characters, NUL and the line separators are removed.
    const std::wstring crafted(L"a\n:!!id\0'x]\x85\u2028\x7f", 14);
    EXPECT_EQ(BracketedName(crafted), L"[a:!!id'x]]]");
    EXPECT_EQ(EscapeQuotedText(crafted), L"a:!!id''x]");
    EXPECT_EQ(SanitizeSqlIdentifier(crafted), L"a:id'x");
    EXPECT_EQ(IdentityInsertTableName(L"a\r\nGO"), L"[aGO]");
    EXPECT_TRUE(IsReservedWord(L"drop") && IsReservedWord(L"Go") && !IsReservedWord(L"getdate"));
    for (const wchar_t* name : {L"..", L".", L"", L"...", L"//", L"nul", L"a."}) {
        const std::wstring once = SafePathComponent(name);
        EXPECT_TRUE(once != L"." && once != L".." && !once.empty()) << WideToUtf8(once);
        EXPECT_EQ(SafePathComponent(once), once);
    }
}

}  // namespace
}  // namespace kestrane
