// The pieces both save runs share (filters, tree labels, constraint texts) and those of the script
// folder (names, batch files, module scripts), on hand-built input.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>

#include "ExportFixtures.h"
#include "datafile/MetadataCatalog.h"
#include "export/ConstraintStatements.h"
#include "export/ModuleScripts.h"
#include "export/RowParameters.h"
#include "export/ObjectDefinitionText.h"
#include "export/SaveFilter.h"
#include "export/SaveTally.h"
#include "export/ScriptFolderCheck.h"
#include "export/SavedRowImages.h"
#include "support/CellRows.h"
#include "export/ScriptFolderNames.h"
#include "export/SqlcmdBatchFiles.h"
#include "platform/TextCodec.h"
#include "sqltext/InsertScript.h"
#include "sqltext/ScriptFiles.h"
#include "sqltext/SqlTextFixtures.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;

// The 8 datetime bytes of a date (ticks of 1/300 s, days since 1900-01-01) as an entry keeps them.
uint64_t BeginTime(int year, int month, int day, int hour, int minute, int second) {
    const int32_t days = static_cast<int32_t>(DaysFromOleEpoch(year, month, day) - DaysFromOleEpoch(1900, 1, 1));
    const int32_t ticks = (hour * 3600 + minute * 60 + second) * 300;
    uint8_t bytes[8];
    std::memcpy(bytes, &ticks, 4);
    std::memcpy(bytes + 4, &days, 4);
    uint64_t time = 0;
    std::memcpy(&time, bytes, 8);
    return time;
}

TEST(SaveFilter, KindsAndInclusiveDateRanges) {
    SaveFilter filter;
    filter.saveDelete = true;
    for (auto [operation, kept] : {std::pair{2, false}, {3, true}, {4, false}, {6, false}, {5, false}})
        EXPECT_EQ(filter.KeepsKind(operation), kept) << operation;
    filter = {true, false, true, {}};
    for (auto [operation, kept] : {std::pair{2, true}, {3, false}, {4, true}, {6, true}, {1, false}})
        EXPECT_EQ(filter.KeepsKind(operation), kept) << operation;

    EXPECT_TRUE(filter.KeepsDate(COleDateTime(0, 0, 0, 0, 0, 0)));  // no range: every date, even none
    filter.dateRanges = {{COleDateTime(2020, 1, 1, 0, 0, 0), COleDateTime(2020, 1, 31, 0, 0, 0)}};
    const struct {
        uint64_t beginTime;
        bool kept;
    } cases[] = {
        {BeginTime(2020, 1, 31, 0, 0, 0), true},   // the last instant belongs to the range
        {BeginTime(2020, 1, 1, 0, 0, 0), true},
        {BeginTime(2020, 1, 15, 12, 30, 5), true},
        {BeginTime(2020, 1, 31, 0, 0, 1), false},
        {BeginTime(2019, 12, 31, 23, 59, 59), false},
        {0xFFFFFFFFFFFFFFFFull, false},  // no date: fails a set filter
        {0, false},  // begun before the log: no time, in no range, not even one from 1900-01-01
    };
    for (const auto& c : cases) EXPECT_EQ(filter.KeepsDate(OperationBeginDate(c.beginTime)), c.kept) << std::hex << c.beginTime;
    filter.dateRanges = {{COleDateTime(1900, 1, 1, 0, 0, 0), COleDateTime(1900, 1, 2, 0, 0, 0)}};
    EXPECT_FALSE(filter.KeepsDate(OperationBeginDate(0)));
    EXPECT_TRUE(BeganBeforeLog(0));
    EXPECT_FALSE(BeganBeforeLog(BeginTime(1900, 1, 1, 0, 0, 1)));
    EXPECT_EQ(OperationBeginDate(BeginTime(2024, 3, 7, 10, 20, 30)).ToIsoText(), L"2024-03-07 10:20:30");

    for (auto [label, count] : {std::pair{L"Orders[12]", 12ull}, {L"a[b][7]", 7ull}, {L"All[0]", 0ull}, {L"plain", 0ull}})
        EXPECT_EQ(OperationCountOfLabel(label), count) << WideToUtf8(label);
}

TEST(SaveTally, TheTableLineAddsUpAndTheStopNamesTableAndOperation) {
    SaveTally tally;
    EXPECT_EQ(tally.StoppedText(), L"Saving process stopped before the first operation.");
    tally.BeginTable(12);
    tally.NameTable(L"T");
    auto walk = [&](int n, const std::function<void()>& outcome) {
        for (int i = 0; i < n; ++i) {
            tally.Walked();
            outcome();
        }
    };
    walk(2, [&] { tally.Kept(); });
    walk(3, [&] { tally.NotOfChosenKind(); });
    walk(1, [&] { tally.OutsideDateRanges(true); });
    walk(1, [&] { tally.OutsideDateRanges(false); });
    walk(1, [&] { tally.NoRow(L"the updated row cannot be rebuilt"); });
    walk(1, [&] { tally.NotWritten(); });
    walk(1, [&] { tally.StoppedBeforeRow(); });  // the stop came before this one's row
    EXPECT_EQ(tally.TableLine(),
              L"Table T : 12 operations, 2 kept, left out 3 not of a chosen kind, 2 outside the date ranges (1 of them "
              L"begun before the log, without a time), 1 gave no row (the updated row cannot be rebuilt), 1 could "
              L"not be written, 3 not reached (stopped) .");
    EXPECT_EQ(tally.StoppedText(), L"Saving process stopped after table T, operation 9.");

    // A table with every operation kept needs no line; a stop before the next table's first operation
    // is after the last one walked.
    tally.BeginTable(2);
    tally.NameTable(L"U");
    walk(2, [&] { tally.Kept(); });
    EXPECT_EQ(tally.TableLine(), L"");
    tally.BeginTable(5);
    EXPECT_EQ(tally.StoppedText(), L"Saving process stopped after table U, operation 2.");

    // A table that could not be created: its first operation and, when the walk leaves it, the rest.
    tally.NameTable(L"V");
    tally.Walked();
    tally.TableNotCreated(5);
    EXPECT_EQ(tally.TableLine(), L"Table V : 5 operations, 0 kept, left out 5 of a table that could not be created .");
}

// Values the files do not give (a row without its NOT NULL Visit, a damaged note) are counted by
// column where both saves write their stand-ins, and the table's line says so.
TEST(SaveTally, BothSavesCountTheStandInsOfTheRowsTheyWrite) {
    const ColumnDefList columns = {test::Column(L"id", L"int(4)", kTypeInt, 0), test::Column(L"Visit", L"int(4)", kTypeInt, 0),
                                   test::Column(L"note", L"nvarchar(10)", kTypeNVarChar)};
    std::vector<RowValues> rows;
    for (const wchar_t* id : {L"1", L"2"}) {
        rows.push_back(test::RowOf(columns, {id, L"0", L"n"}));
        rows.back().SetState(1, columns[1], CellState::Unavailable);
    }
    rows.back().SetState(2, columns[2], CellState::Unavailable);
    RunState state("");
    const std::wstring expected = L"3 values not in the files written as stand-ins (Visit, note)";

    StandInTally database;
    std::vector<SqlRowValue> values;
    for (const RowValues& row : rows) ASSERT_TRUE(FillRowValues(columns, row, state, values, &database));
    EXPECT_EQ(database.Text(), expected);
    EXPECT_EQ(std::get<int32_t>(*values[1]), 0);  // the stand-in rule itself is unchanged

    const fs::path dir = test::ExportScratch("stand-ins");
    std::wstring path = WriteTableScriptHeader(L"", Utf8ToWide(dir.string()), L"T", L"db");
    BinaryFile list;
    InsertScriptState script;
    script.currentTableName = L"T";
    const std::wstring table = L"T", db = L"db";
    {
        InsertScriptWriter writer(path, db, table, list, script);
        writer.Write(rows, columns, state);
        ASSERT_TRUE(writer.Flush());
        const InsertScriptSettled settled = writer.Take();
        EXPECT_EQ(settled.keptRows, 2u);
        EXPECT_EQ(settled.standIns.Text(), expected);
    }

    SaveTally tally;
    tally.BeginTable(2);
    tally.NameTable(L"Movies");
    for (int i = 0; i < 2; ++i) {
        tally.Walked();
        tally.Kept();
    }
    tally.StandIns(database);
    EXPECT_EQ(tally.TableLine(), L"Table Movies : 2 operations, 2 kept, " + expected + L" .");
    tally.Walked();
    tally.NotOfChosenKind();
    const std::wstring both = tally.TableLine();
    EXPECT_EQ(both, L"Table Movies : 3 operations, 2 kept, left out 1 not of a chosen kind; " + expected + L" .");
    EXPECT_TRUE(test::LeftOutLineAddsUp(both));
}

TEST(ScriptFolderCheck, MissingAndUnwritableFoldersAreRefused) {
    const fs::path dir = test::ExportScratch("folder-check");
    std::ofstream(dir / "file") << "not a folder";
    EXPECT_EQ(CheckScriptFolder(Utf8ToWide(dir.string())), ScriptFolderState::Usable);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);  // the probe is gone
    EXPECT_EQ(CheckScriptFolder(Utf8ToWide((dir / "missing").string())), ScriptFolderState::Missing);
    EXPECT_EQ(CheckScriptFolder(Utf8ToWide((dir / "file").string())), ScriptFolderState::Missing);
    EXPECT_EQ(CheckScriptFolder(Utf8ToWide((dir / "file" / "sub").string())), ScriptFolderState::Missing);
    EXPECT_EQ(CheckScriptFolder(L""), ScriptFolderState::Missing);
    // No one, the superuser included, creates a file in /proc.
    EXPECT_EQ(CheckScriptFolder(L"/proc"), ScriptFolderState::NotWritable);
    EXPECT_EQ(ScriptFolderRefusal(L"/proc"),
              L"The folder \" /proc \" cannot be written. Please browse save location for script file");
    EXPECT_EQ(ScriptFolderRefusal(Utf8ToWide((dir / "missing").string())),
              L"The folder \" " + Utf8ToWide((dir / "missing").string()) +
                  L" \" does not exist. Please browse save location for script file");
    EXPECT_EQ(ScriptFolderRefusal(Utf8ToWide(dir.string())), L"");
}

TEST(ScriptFolderNames, UnicodeCounterLengthsDotsSlashesAndCollisions) {
    ScriptFolderNames names;
    EXPECT_EQ(names.DatabaseScriptName(L"\x6570\x636E"), L"UnicodeDatabase_1");
    const struct {
        std::wstring table, folder;
    } cases[] = {
        {L"\x4E66", L"Unicodetable_2"},  // the counter is the run's, shared with the database
        {L"Orders", L"Orders"},
        {L"orders", L"orders_2"},  // one folder on Windows
        {L"", L"_"},
        {L"x", L"x"},
        {L"..", L"__"},
        {L"../../etc", L".._.._etc"},
        {L"//", L"___2"},
        {L"con", L"_con"},
        {L"a.", L"a_"},
        {std::wstring(300, L'n'), std::wstring(100, L'n')},
        {std::wstring(299, L'n') + L"!", std::wstring(100, L'n') + L"_2"},
    };
    for (const auto& c : cases) EXPECT_EQ(names.TableFolderName(c.table), c.folder) << WideToUtf8(c.table);
    // Names cut to one length go on from the last suffix that length was given.
    const std::wstring cut(ScriptFolderNames::kMaxComponent, L'c');
    for (int i = 0; i < 3000; ++i) {
        const std::wstring folder = names.TableFolderName(cut + std::to_wstring(i));
        if (i == 0 || i == 1 || i == 2999) EXPECT_EQ(folder, i ? cut + L"_" + std::to_wstring(i + 1) : cut);
    }
    EXPECT_EQ(ScriptFolderNames::DatabaseFolderName(std::wstring(90, L'\x6570')).size(), 66u);  // 200 UTF-8 bytes at most
}

TEST(SqlcmdBatchFiles, BatchTextsPathsAndQuoting) {
    const fs::path dir = test::ExportScratch("batch");
    SqlcmdBatchFiles batch(Utf8ToWide(dir.string()), 1252);
    ASSERT_TRUE(batch.Open());
    batch.AddCreateDatabaseScript(L"Sales.sql");
    batch.AddDatabaseScript(L"Tables/100%x/maintablescript.sql");
    batch.AddKeyScript(L"altertablecommandforeignkeys/0.sql");
    batch.Finish();
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile((dir / "mainsqlscript.bat").string(), bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              test::ExpectedBatchText({{"Sales.sql", true}, {"Tables/100%x/maintablescript.sql", true},
                                       {"altertablecommandforeignkeys/0.sql", false}}));
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("-i \"Tables\\100%%x\\maintablescript.sql\""), std::string::npos);
    EXPECT_TRUE(fs::status(dir / "mainsqlscript.sh").permissions() != fs::perms::none);
    EXPECT_TRUE((fs::status(dir / "mainsqlscript.sh").permissions() & fs::perms::owner_exec) != fs::perms::none);

    EXPECT_EQ(BatQuotedPath(L"Tables/a%b%/x.sql"), L"\"Tables\\a%%b%%\\x.sql\"");
    EXPECT_EQ(ShellQuotedPath(L"Tables/it's $(x)/`y`.sql"), "'Tables/it'\\''s $(x)/`y`.sql'");

    SqlcmdBatchFiles nowhere(Utf8ToWide((dir / "mainsqlscript.bat" / "x").string()), 1252);
    EXPECT_FALSE(nowhere.Open());
    EXPECT_EQ(nowhere.Failures().size(), 1u);
    EXPECT_EQ(batch.PlatformPath(), batch.ShellPath());

    // The usage says that the database is dropped; sqlcmd gets DIR with every quote doubled (it stands
    // inside N'...'), from a folder whose path holds a quote.
    const fs::path quoted = test::ExportScratch("batch-o'brien") / "it's";
    fs::create_directories(quoted);
    SqlcmdBatchFiles inQuoted(Utf8ToWide(quoted.string()), 1252);
    ASSERT_TRUE(inQuoted.Open());
    inQuoted.AddCreateDatabaseScript(L"Sales.sql");
    inQuoted.Finish();
    std::vector<std::string> calls;
    const std::string usage = test::RunShellWithRecordingSqlcmd(quoted, {"srv"}, quoted.parent_path() / "work", calls);
    EXPECT_TRUE(calls.empty());
    EXPECT_NE(usage.find("Warning: a database of that name is DROPPED first, with all its data, then created anew."),
              std::string::npos);
    test::RunShellWithRecordingSqlcmd(quoted, {"srv", "db"}, quoted.parent_path() / "work", calls);
    std::string doubled = quoted.string();
    for (size_t at = doubled.find('\''); at != std::string::npos; at = doubled.find('\'', at + 2)) doubled.insert(at, 1, '\'');
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], quoted.string() + "|[-E][-S][srv][-v][DBNAME=db][-v][DIR=" + doubled + "][-i][Sales.sql]");
}

TEST(ModuleScripts, DefinitionsSqlcmdWouldChangeAreRefused) {
    for (auto [text, passes] : {std::pair{L"CREATE PROC p AS\r\n  SELECT 1 -- go on\r\nGOTO x", true},
                                {L"CREATE VIEW v AS SELECT ':r' AS a", true},
                                {L"CREATE PROC p AS SELECT 1\r\nGO\r\nDROP TABLE t", false},
                                {L"CREATE PROC p AS SELECT 1\n  go 5", false},
                                {L"CREATE PROC p AS\r\n:!! rm -rf ~", false},
                                {L"CREATE PROC p AS\r\n!! rm -rf ~", false},
                                {L"CREATE PROC p AS SELECT '$(DIR)'", false},
                                {L"CREATE PROC p AS\r\n  exit", false},
                                {L"CREATE PROC p AS\r\nQUIT(SELECT 1)", false},
                                {L"CREATE PROC p AS\r\n  editor = 1", true}})
        EXPECT_EQ(PassesSqlcmdUnchanged(text), passes) << WideToUtf8(text);

    std::vector<ObjectRecord> objects(6);
    const wchar_t* types[] = {L"TR", L"V ", L"P ", L"FN", L"P ", L"U "};
    const wchar_t* texts[] = {L"create trigger t on x for insert as select 1", L"CREATE VIEW v AS SELECT 1",
                              L"\x01\x02 encrypted", L"CREATE FUNCTION f() RETURNS int AS BEGIN RETURN 1 END",
                              L"CREATE PROC p AS\r\nGO", L"CREATE TABLE"};
    for (int i = 0; i < 6; ++i) objects[i] = ObjectRecord{i, L"m" + std::to_wstring(i), 0, 0, 0, types[i], 0, 0, 0};
    std::vector<std::wstring> refused;
    const auto scripts = CollectModuleScripts(objects, [&](int32_t id) { return std::wstring(texts[id]); }, refused);
    ASSERT_EQ(scripts.size(), 3u);
    EXPECT_EQ(scripts[0].relativePath, L"Functions/Function0.sql");
    EXPECT_EQ(scripts[1].relativePath, L"Views/View1.sql");
    EXPECT_EQ(scripts[2].relativePath, L"Triggers/Trigger2.sql");
    EXPECT_EQ(scripts[1].text, L"GO\r\nCREATE VIEW v AS SELECT 1");
    EXPECT_EQ(refused, std::vector<std::wstring>{L"m4"});

    // A module's text is its own CREATE statement, else statements before it would run in the script.
    const std::vector<std::pair<std::wstring, bool>> modules = {
        {L"-- head\r\n/* a /* b */ c */ CREATE OR ALTER PROCEDURE p AS SELECT 1", true},
        {L"ALTER proc p AS SELECT 1", true},
        {L"drop table t -- create procedure", false},
        {L"CREATE VIEW v AS SELECT 1", false},  // a view where a procedure is stored
        {L"/* create procedure p */ drop table t", false},
        {L"CREATE OR DROP PROCEDURE p AS SELECT 1", false}};
    objects.assign(modules.size(), ObjectRecord{});
    for (size_t i = 0; i < modules.size(); ++i)
        objects[i] = ObjectRecord{static_cast<int32_t>(i), L"p" + std::to_wstring(i), 0, 0, 0, L"P ", 0, 0, 0};
    refused.clear();
    const auto procedures = CollectModuleScripts(objects, [&](int32_t id) { return modules[id].first; }, refused);
    ASSERT_EQ(procedures.size(), 2u);
    EXPECT_EQ(procedures[1].name, L"p1");
    EXPECT_EQ(refused, (std::vector<std::wstring>{L"p2", L"p3", L"p4", L"p5"}));
}

// A catalogue of one table T(id, [a b], c) with a primary key, a default, two checks, a unique
// constraint, two indexes and a two-column foreign key, as the schema loader leaves it.
struct ConstraintCatalog {
    RunState state{""};
    CMetadataCatalog catalog{nullptr, state};
    ColumnDefList columns;

    ConstraintCatalog() {
        catalog.currentObject.id = 10;
        auto column = [&](uint32_t id, const wchar_t* name) {
            ColumnDef c(name, L"int(4)", kTypeInt);
            c.columnId = id;
            c.ordinal = static_cast<int32_t>(id);
            columns.push_back(c);
        };
        column(1, L"id");
        column(2, L"a b");
        column(3, L"c]");
        columns[2].indexFlag40 = 1;
        auto constraint = [&](int32_t id, const wchar_t* name, const wchar_t* type, uint32_t status, uint32_t column) {
            catalog.keyConstraints.push_back({0, 0, 0, name, static_cast<uint32_t>(id), type});
            catalog.objects.push_back(ObjectRecord{id, name, 0, 0, status, type, 10, 0, column});
        };
        constraint(21, L"PK_T", L"PK", 0, 0);
        constraint(22, L"DF_T", L"D ", 0x20000, 2);
        constraint(23, L"DF__sys", L"D ", 0x20004, 3);
        constraint(24, L"CK_T", L"C ", 0x120000, 0);
        constraint(25, L"CK_bad", L"C ", 0x120000, 0);
        constraint(26, L"UQ_T", L"UQ", 0, 0);
        auto index = [&](uint32_t id, const wchar_t* name, uint32_t status, uint8_t type,
                         std::vector<std::tuple<uint32_t, uint8_t, uint32_t>> cols) {
            IndexRecord record;
            record.objectId = 10;
            record.indexId = id;
            record.name = name;
            record.status = status;
            record.unused17 = type;
            catalog.indexes.push_back(record);
            if (status & 1) catalog.tableIndexes.push_back(record);
            for (auto [columnId, key, columnStatus] : cols) {
                IndexColumnRecord c;
                c.objectId = 10;
                c.indexId = id;
                c.columnId = columnId;
                c.keyPosition = key;
                c.unused12 = columnStatus;
                catalog.indexColumns.push_back(c);
            }
        };
        index(1, L"PK_T", 0x21, 2, {{2, 2, 0}, {1, 1, 0}});
        index(2, L"UQ_T", 0x49, 1, {{3, 1, 0}});
        index(3, L"IX_T", 0x09, 2, {{3, 1, 4}, {1, 0, 0x10}, {2, 0, 0x10}});
        index(4, L"IX_heap]", 0x01, 1, {{2, 1, 0}});
    }

    std::wstring Definition(int32_t id) const {
        switch (id) {
            case 22: return L"((0))";
            case 23: return L"(getdate())";
            case 24: return L"([c]]]>(0))";
            case 25: return L"((1))) DROP TABLE x --";
            default: return {};
        }
    }
};

TEST(ConstraintStatements, EveryNameBracketedAndUnsafeDefinitionsLeftOut) {
    ConstraintCatalog f;
    EXPECT_EQ(TableConstraintStatements(f.catalog, L"T]x", f.columns, [&](int32_t id) { return f.Definition(id); }, f.state),
              (std::vector<std::wstring>{
                  L"Alter Table [T]]x] add constraint [PK_T] Primary key nonclustered ([id] , [ab] )",
                  L"Alter Table [T]]x] add constraint [DF_T] default ((0)) for [ab]",
                  L"Alter Table [T]]x] add default (getdate()) for [c]",
                  L"Alter Table [T]]x] add constraint [CK_T] check ([c]]]>(0))",
                  L"Alter Table [T]]x] add constraint [UQ_T] unique clustered([c] )",
              }));
    EXPECT_EQ(TableIndexStatements(f.catalog, L"T]x", f.columns, f.state),
              (std::vector<std::wstring>{
                  L"Create unique Index [IX_T] on [T]]x]([c] desc ) include([id] , [ab] )",
                  L"Create clustered Index [IX_heap]]] on [T]]x]([ab] )",
              }));
    f.state.stopFlag = 1;
    EXPECT_TRUE(TableIndexStatements(f.catalog, L"T", f.columns, f.state).empty());

    // One foreign key over two columns (two records), one without a name; cascade flags.
    auto record = [](uint32_t id, uint32_t ordinal, const wchar_t* name, uint32_t column, uint32_t referenced, uint32_t status) {
        ForeignKeyRecord r;
        r.foreignKeyId = id;
        r.keyColumnOrdinal = ordinal;
        r.name = name;
        r.referencingTableId = 10;
        r.referencedTableId = 11;
        r.referencingTableName = L"T";
        r.referencedTableName = L"R]";
        r.referencingColumnId = column;
        r.referencedColumnId = referenced;
        r.referencingColumnName = L"col" + std::to_wstring(column);
        r.referencedColumnName = L"ref" + std::to_wstring(referenced);
        r.status = status;
        return r;
    };
    const auto keys = GroupForeignKeys({record(30, 2, L"FK_2", 2, 6, 0x5400), record(31, 1, L"", 1, 5, 0x4000),
                                        record(30, 1, L"FK_2", 1, 5, 0x5400), record(32, 1, L"FK_3", 3, 7, 0x1000)});
    ASSERT_EQ(keys.size(), 3u);
    const ColumnNaming naming = [](uint32_t tableId, const std::wstring&, uint32_t column, const std::wstring& stored) {
        return tableId == 10 ? L"c" + std::to_wstring(column) : column == 7 ? std::wstring() : stored;
    };
    EXPECT_EQ(ForeignKeyStatement(keys[0], naming), L"alter table [T] add constraint [FK_2] foreign key([c1] , [c2] ) "
                                                    L"references [R]]]([ref5] , [ref6] ) on update cascade on delete cascade");
    EXPECT_EQ(ForeignKeyStatement(keys[1], naming), L"alter table [T]  add foreign key([c1] ) references [R]]]([ref5] ) on delete cascade");
    EXPECT_EQ(ForeignKeyStatement(keys[2], naming), L"");  // a column the referenced table does not have
    EXPECT_EQ(LegacyPrimaryKeyStatement(L"T", {L"a", L"key"}), L"ALTER TABLE [T]  ADD PRIMARY KEY ([a] , [key] )");

    // Stored definitions: 8-bit text in the code page, UTF-16 when a byte after the first is 0; all
    // definitions of the object, in order.
    const std::vector<StringTriple> definitions = {{L"5", L"0", L"0x28E929"}, {L"6", L"0", L"0x28004100"},
                                                   {L"6", L"1", L"0x2900"}, {L"7", L"0", L"0x"}};
    EXPECT_EQ(GetObjectDefinitionText(definitions, L"5", 1252), L"(\xE9)");
    EXPECT_EQ(GetObjectDefinitionText(definitions, L"6", 1252), L"(A)");
    EXPECT_EQ(GetObjectDefinitionText(definitions, L"7", 1252), L"");
    EXPECT_EQ(GetObjectDefinitionText(definitions, L"8", 1252), L"");
}

}  // namespace
}  // namespace kestrane

namespace kestrane {
namespace {

// An update whose row cannot be rebuilt gives the saves no row, and says why; a rebuilt update gives
// the row before the change; inserts and deletes give their row.
TEST(SavedRowImages, UpdatesWithoutTheirRowGiveNone) {
    const ColumnDefList columns = {ColumnDef(L"id", L"int", kTypeInt)};
    const RowValues after = test::RowOf(columns, {L"2"}), before = test::RowOf(columns, {L"1"});
    RowRebuildFailure why = RowRebuildFailure::NoStartingRow;
    RowImages update;
    update.operation = 4;
    update.images = {after, before};
    std::vector<RowValues> rows = SavedRowImages(RowImages(update), &why);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0] == before);
    EXPECT_EQ(why, RowRebuildFailure::None);
    for (RowRebuildFailure failure : {RowRebuildFailure::RecordUnreadable, RowRebuildFailure::NoStartingRow,
                                      RowRebuildFailure::BytesDiffer}) {
        RowImages lost;
        lost.operation = 6;
        lost.failure = failure;
        EXPECT_TRUE(SavedRowImages(std::move(lost), &why).empty());
        EXPECT_EQ(why, failure);
        EXPECT_FALSE(RowRebuildFailureText(failure).empty());
    }
    RowImages insert;
    insert.operation = 2;
    insert.images = {after};
    EXPECT_EQ(SavedRowImages(std::move(insert), &why).size(), 1u);
    EXPECT_EQ(why, RowRebuildFailure::None);
}

}  // namespace
}  // namespace kestrane
