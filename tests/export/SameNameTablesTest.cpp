// Two tables of one name in two schemas ("dbo.T" and "sales.T", told apart only by their object ids),
// each with its own columns, in a catalogue and a log built in code: the click and both saves must take
// each table's own columns, and the saves must keep the two apart.
#include <gtest/gtest.h>

#include <set>

#include "CodeBuiltSet.h"
#include "export/SavedTableNames.h"
#include "logreader/LogByteSource.h"
#include "logreader/OperationDetail.h"
#include "sqltext/SqlTextFixtures.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr uint32_t kDboT = 500, kSalesT = 600;
constexpr uint64_t kDboRowset = 0x7000, kSalesRowset = 0x8000;

struct TwoSchemasSet : CodeBuiltSet {
    TwoSchemasSet() : CodeBuiltSet({{0, 13}, {7, 1}, {int32_t{kDboT}, 1}, {int32_t{kSalesT}, 1}}) {
        catalog->objects = {Object(kDboT, L"T", L"U "), Object(kSalesT, L"T", L"U ")};
        catalog->types = {Type(56, L"int"), Type(127, L"bigint"), Type(231, L"nvarchar")};
        // dbo.T (id int, name nvarchar(20)); sales.T (code int, qty bigint).
        catalog->columns = {Column(kDboT, 1, L"id", 56, 4), Column(kDboT, 2, L"name", 231, 40),
                            Column(kSalesT, 1, L"code", 56, 4), Column(kSalesT, 2, L"qty", 127, 8)};
        catalog->rowsets = {Rowset(kDboRowset, kDboT, 0), Rowset(kSalesRowset, kSalesT, 0)};
        catalog->rowsetColumns = {Placed(kDboRowset, 1, 4), Placed(kDboRowset, 2, 0xFFFF),
                                  Placed(kSalesRowset, 1, 4), Placed(kSalesRowset, 2, 8)};
        // The rows are rebuilt against their data pages (2: dbo.T, 3: sales.T).
        const Bytes dboRow = FixedVarRow(Le(1, 4), 2, {{'a', 0, 'b', 0}});
        const Bytes salesRow = FixedVarRow(Cat(Le(7, 4), Le(9, 8)), 2, {}, 0x10);
        ScanLog({RowOperation(2, kDboRowset, 2, 0, {dboRow}), RowOperation(2, kSalesRowset, 3, 0, {salesRow})});
    }

    // A foreign key from sales.T's code to dbo.T's id.
    void AddForeignKey() {
        ForeignKeyRecord key;
        key.foreignKeyId = 900;
        key.keyColumnOrdinal = 1;
        key.referencingTableId = kSalesT;
        key.referencingColumnId = 1;
        key.referencedTableId = kDboT;
        key.referencedColumnId = 1;
        key.name = L"FK_sales";
        key.referencingTableName = key.referencedTableName = L"T";
        key.referencingColumnName = L"code";
        key.referencedColumnName = L"id";
        catalog->foreignKeys.push_back(key);
    }

    // As the tree gives them once both tables are ticked: "All[2]" (no table) ticked itself.
    std::vector<TickedTable> TickBoth() const {
        return {{0, 2}, {kDboT, store.EntriesOfTable(kDboT).size()}, {kSalesT, store.EntriesOfTable(kSalesT).size()}};
    }
};

// The log's lines that begin with `head`.
std::vector<std::wstring> LinesStarting(const RecordingSaveView& view, const std::wstring& head) {
    std::vector<std::wstring> out;
    for (const std::wstring& line : view.lines)
        if (line.rfind(head, 0) == 0) out.push_back(line);
    return out;
}

TEST(SameNameTables, EachClickedOperationShowsItsOwnTablesColumns) {
    TwoSchemasSet set;
    ASSERT_EQ(set.store.Size(), 2u);
    ASSERT_EQ(set.store.ObjectId(set.store[1]), kSalesT);
    RecordingDetail detail;
    TableSchemaCache schemas;
    OperationDetailView view(set.store, set.holder, *set.catalog, set.state, *set.log, detail, detail, &schemas);
    // The second table once took the first one's schema: "id", "name", and its row cut by those columns.
    for (int pass = 0; pass < 2; ++pass) {  // again from the cache, in the other order
        for (uint64_t i : pass == 0 ? std::vector<uint64_t>{0, 1} : std::vector<uint64_t>{1, 0}) {
            view.OnOperationClicked(i);
            if (i == 0) {
                EXPECT_EQ(detail.columns, (std::vector<std::wstring>{L"id", L"name"}));
                EXPECT_EQ(detail.status, L"insert into [T] values( 1,N'ab')");
                EXPECT_EQ(detail.rows, (std::vector<std::vector<std::wstring>>{{L"inserted", L"1", L"ab"}}));
            } else {
                EXPECT_EQ(detail.columns, (std::vector<std::wstring>{L"code", L"qty"}));
                EXPECT_EQ(detail.status, L"insert into [T] values( 7,9)");
                EXPECT_EQ(detail.rows, (std::vector<std::vector<std::wstring>>{{L"inserted", L"7", L"9"}}));
            }
        }
    }
    EXPECT_EQ(schemas.Loads(), 2u);
}

TEST(SameNameTables, TheScriptSaveCreatesEachUnderItsOwnNameWithItsOwnColumns) {
    TwoSchemasSet set;
    set.AddForeignKey();
    const fs::path dir = ExportScratch("same-name-tables");
    RecordingSaveView view;
    const ScriptSaveResult result = set.SaveScripts(set.TickBoth(), dir, view, true);
    EXPECT_EQ(result.rowsWritten, 2u);
    EXPECT_TRUE(result.failedFiles.empty());
    // "All" is no table: only the two tables have their blocks.
    EXPECT_EQ(LinesStarting(view, L"Total Number of record Processed"),
              (std::vector<std::wstring>(2, L"Total Number of record Processed =  1 .")));

    const std::wstring first = ReadScript(Utf8ToWide((dir / "Shop/Tables/T/T.sql").string()));
    const std::wstring second = ReadScript(Utf8ToWide((dir / "Shop/Tables/T_2/T_2.sql").string()));
    EXPECT_NE(first.find(L"[id]"), std::wstring::npos) << WideToUtf8(first);
    EXPECT_NE(first.find(L"[name]"), std::wstring::npos);
    EXPECT_NE(first.find(L"N'ab'"), std::wstring::npos);
    EXPECT_EQ(first.find(L"[code]"), std::wstring::npos);
    // The second table goes under a name no other table of the run has, with its own columns and row.
    EXPECT_NE(second.find(L"[T_2]"), std::wstring::npos) << WideToUtf8(second);
    EXPECT_EQ(second.find(L"[T]"), std::wstring::npos);
    EXPECT_NE(second.find(L"[code]"), std::wstring::npos);
    EXPECT_NE(second.find(L"[qty]"), std::wstring::npos);
    EXPECT_NE(second.find(L"7,9"), std::wstring::npos);
    EXPECT_EQ(second.find(L"[name]"), std::wstring::npos);
    EXPECT_TRUE(view.Logged(L"Table T (object id 600) is saved as T_2: a table of another schema with the same "
                            L"name is saved in this run"));
    // The key names both tables as the folder creates them.
    EXPECT_EQ(ReadScript(Utf8ToWide((dir / "Shop/altertablecommandforeignkeys/0.sql").string())),
              L"alter table [T_2] add constraint [FK_sales] foreign key([code] ) references [T]([id] )");
}

TEST(SameNameTables, TheDatabaseSaveCreatesBothAndFillsEachWithItsOwnRow) {
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    TwoSchemasSet set;
    TdsEndpoint endpoint;
    ASSERT_TRUE(endpoint.running());
    RecordingSaveView view;
    const DatabaseSaveResult result = set.SaveToDatabase(set.TickBoth(), endpoint, view);
    EXPECT_EQ(result.tablesCreated, (std::vector<std::wstring>{L"T", L"T_2"}));
    EXPECT_EQ(result.rowsAdded, 2u);
    EXPECT_EQ(LinesStarting(view, L"Total Number of record inserted"),
              (std::vector<std::wstring>(2, L"Total Number of record inserted =  1 .")));
    ASSERT_FALSE(set.prompter.messages.empty());
    EXPECT_EQ(set.prompter.messages.back().text, L"Saving process completed");
    std::vector<std::wstring> creates, inserts;
    for (const std::wstring& statement : endpoint.Statements()) {
        if (statement.rfind(L"Create TABLE", 0) == 0) creates.push_back(statement);
        if (statement.rfind(L"INSERT INTO", 0) == 0) inserts.push_back(statement);
    }
    ASSERT_EQ(creates.size(), 2u) << endpoint.RecordText();
    EXPECT_NE(creates[0].find(L"[name]"), std::wstring::npos) << WideToUtf8(creates[0]);
    EXPECT_NE(creates[1].find(L"[T_2]"), std::wstring::npos) << WideToUtf8(creates[1]);
    EXPECT_NE(creates[1].find(L"[qty]"), std::wstring::npos);
    ASSERT_EQ(inserts.size(), 2u) << endpoint.RecordText();
    EXPECT_NE(inserts[1].find(L"[T_2]"), std::wstring::npos) << WideToUtf8(inserts[1]);
    EXPECT_NE(inserts[1].find(L"[qty]"), std::wstring::npos);
}

TEST(SameNameTables, SavedNamesStayFreeAndWithinTheServersLength) {
    SavedTableNames names;
    EXPECT_EQ(names.NameFor(1, L"T"), L"T");
    EXPECT_EQ(names.NameFor(2, L"t"), L"t_2");  // a server of a case-insensitive collation takes them as one
    EXPECT_EQ(names.NameFor(3, L"t_2"), L"t_2_2");
    EXPECT_EQ(names.NameFor(2, L"t"), L"t_2");  // an id keeps its name
    const std::wstring longest(SavedTableNames::kMaxName, L'x');
    EXPECT_EQ(names.NameFor(4, longest), longest);
    EXPECT_EQ(names.NameFor(5, longest), std::wstring(SavedTableNames::kMaxName - 2, L'x') + L"_2");
    ASSERT_NE(names.Find(5), nullptr);
    EXPECT_EQ(names.Find(6), nullptr);
    EXPECT_EQ(names.SuffixesTried(), 3u);

    // The k-th table of one name goes on from the suffix before it: one try each, not k-1.
    SavedTableNames many;
    for (uint32_t id = 1; id <= 8000; ++id) many.NameFor(id, L"Orders");
    EXPECT_EQ(*many.Find(8000), L"Orders_8000");
    EXPECT_EQ(many.SuffixesTried(), 7999u);
    // Long names that differ only where the suffix cuts them share one stem, and its suffixes.
    SavedTableNames cut;
    std::set<std::wstring> given;
    for (uint32_t id = 0; id < 4000; ++id) {
        const std::wstring& name = cut.NameFor(id, std::wstring(127, L'x') + static_cast<wchar_t>(0x100 + id / 2));
        EXPECT_LE(name.size(), SavedTableNames::kMaxName);
        given.insert(LowerCase(name));
    }
    EXPECT_EQ(given.size(), 4000u);
    EXPECT_LT(cut.SuffixesTried(), 2500u);
}

}  // namespace
}  // namespace kestrane
