// A crafted catalogue and crafted values against both saves: default and check definitions that hold
// more than one expression (whole, split over definition rows, behind comments or line breaks), names
// and values with CR, LF, NUL, "]", quotes and sqlcmd command text. The server gets only the program's
// statements; a stand-in sqlcmd that acts on GO and ":" lines finds no line of the data's to act on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>

#include "ExportFixtures.h"
#include "export/ConstraintStatements.h"
#include "export/DatabaseSaveRun.h"
#include "export/ObjectDefinitionText.h"
#include "export/ScriptSaveRun.h"
#include "export/SqlExportSession.h"
#include "platform/RunState.h"
#include "sqltext/InsertScript.h"
#include "sqltext/ScriptFiles.h"
#include "sqltext/SqlExpression.h"
#include "sqltext/SqlNames.h"
#include "sqltext/SqlTextFixtures.h"
#include "support/CellRows.h"
#include "support/TdsEndpoint.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using namespace test;

// A stored definition row's value: "0x" and the UTF-16LE bytes in upper-case hex.
std::wstring HexOf(const std::wstring& text) {
    static const wchar_t* digits = L"0123456789ABCDEF";
    std::wstring out = L"0x";
    for (uint8_t b : WideToUtf16Le(text)) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

struct HostileConstraint {
    const wchar_t* name;
    const wchar_t* type;
    std::vector<std::wstring> rows;  // the definition as the catalogue's rows hold it
    bool kept;
};

const std::vector<HostileConstraint> kConstraints = {
    {L"CK_second", L"C ", {L"([Active]=(0)) drop table [Orders]"}, false},
    {L"DF_for", L"D ", {L"((0)) for [x] alter table [Orders] add default (1)"}, false},
    {L"CK_split", L"C ", {L"([Active]>", L"(0)) drop table [Orders]"}, false},
    {L"CK_comment", L"C ", {L"((1)) -- drop table [Orders]"}, false},
    {L"CK_block", L"C ", {L"((1)) /**/ drop table [Orders]"}, false},
    {L"CK_break", L"C ", {L"((1))\r\nGO\r\n:!!touch pwned"}, false},
    {L"CK_quote", L"C ", {L"(N'a)b' like N'%)%')"}, true},
    {L"CK_joined", L"C ", {L"(N'x", L")' <> N'')"}, true},
    {L"DF_ok", L"D ", {L"(N'it''s ) -- ok')"}, true},
};
constexpr int32_t kFirstConstraintId = 2100000000;

// Adds the constraints above to table `tableId`, each default on column `columnId`.
void AddHostileConstraints(CMetadataCatalog& catalog, std::vector<StringTriple>& definitions, uint32_t tableId,
                           uint32_t columnId) {
    for (size_t i = 0; i < kConstraints.size(); ++i) {
        const int32_t id = kFirstConstraintId + static_cast<int32_t>(i);
        catalog.objects.push_back(ObjectRecord{id, kConstraints[i].name, 0, 0, 0, kConstraints[i].type, tableId, 0, columnId});
        for (size_t row = 0; row < kConstraints[i].rows.size(); ++row)
            definitions.push_back({std::to_wstring(id), std::to_wstring(row), HexOf(kConstraints[i].rows[row])});
    }
}

// The statements the kept constraints must give on table `table` whose default column is `column`.
std::vector<std::wstring> KeptStatements(const std::wstring& table, const std::wstring& column) {
    const std::wstring alter = L"Alter Table " + BracketedName(table) + L" add constraint ";
    return {alter + L"[CK_quote] check (N'a)b' like N'%)%')", alter + L"[CK_joined] check (N'x)' <> N'')",
            alter + L"[DF_ok] default (N'it''s ) -- ok') for " + BracketedName(column)};
}

// The text with the insides of literals and delimited names blanked: what the server reads as syntax.
std::wstring Syntax(const std::wstring& text) {
    std::wstring out;
    wchar_t close = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (close) {
            if (c == close && i + 1 < text.size() && text[i + 1] == close) {
                ++i;
            } else if (c == close) {
                close = 0;
                out += c;
            }
            continue;
        }
        out += c;
        if (c == L'\'') close = L'\'';
        if (c == L'[') close = L']';
        if (c == L'"') close = L'"';
    }
    return LowerCase(out);
}

size_t Count(const std::wstring& text, const std::wstring& piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::wstring::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

TEST(HostileCatalogue, DefinitionsBeyondOneExpressionAreLeftOutAndNamed) {
    RunState state("");
    CMetadataCatalog catalog(nullptr, state);
    catalog.currentObject.id = 10;
    ColumnDef column = Column(L"Active", L"int(4)", kTypeInt);
    column.columnId = 1;
    std::vector<StringTriple> definitions;
    AddHostileConstraints(catalog, definitions, 10, 1);
    catalog.CollectKeyConstraints(10);
    std::vector<std::wstring> refused;
    const auto statements = TableConstraintStatements(
        catalog, L"T\r\n", {column},
        [&](int32_t id) { return GetObjectDefinitionText(definitions, std::to_wstring(id), 1252); }, state, &refused);
    EXPECT_EQ(statements, KeptStatements(L"T", L"Active"));
    std::vector<std::wstring> expectedRefused;
    for (const HostileConstraint& c : kConstraints)
        if (!c.kept) expectedRefused.push_back(c.name);
    EXPECT_EQ(refused, expectedRefused);
    EXPECT_EQ(RefusedDefinitionLine(L"T\r\n", L"CK_split"),
              L"Constraint CK_split of table T left out: its stored definition is not one expression");
}

// What the server itself stored passes: every default, check and computed-column definition of the
// tables SOURCES.md lists is one expression.
TEST(HostileCatalogue, EveryDefinitionTheServerStoredIsOneExpression) {
    KESTRANE_REQUIRE_CORPUS();
    size_t checked = 0;
    for (const ListedDataFile& file : CorpusListedDataFiles()) {
        RunState state("");
        NullProgressSink progress;
        CDbFileHolder holder(state, progress);
        if (!holder.Open(Utf8ToWide(file.path.string())) || !holder.Catalog()) continue;
        CMetadataCatalog& catalog = *holder.Catalog();
        const std::vector<StringTriple>& definitions = catalog.ObjectDefinitions();
        for (const TableFacts& table : file.tables) {
            const ColumnDefList columns = catalog.BuildObjectLists(table.name, L"U ", definitions, TablePages::Skip);
            std::vector<std::wstring> stored;
            for (const ColumnDef& column : columns)
                if (column.ordinal == kOrdinalNotStored && !column.definitionText.empty())
                    stored.push_back(column.definitionText);
            for (const KeyConstraintRecord& key : catalog.keyConstraints)
                if (key.type == L"D " || key.type == L"C ")
                    stored.push_back(GetObjectDefinitionText(definitions, std::to_wstring(key.id), state.codePage));
            for (const std::wstring& text : stored) {
                if (text.empty()) continue;
                ++checked;
                EXPECT_TRUE(IsSingleExpression(text)) << file.key << " " << WideToUtf8(table.name) << ": " << WideToUtf8(text);
            }
        }
    }
    std::cout << "definitions checked: " << checked << "\n";
}

bool PythonMissing() { return std::system("python3 -c '' > /dev/null 2>&1") != 0; }

// Runs the stand-in sqlcmd: through "mainsqlscript.sh" of `folder` when `script` is empty, else on
// that one script. Returns its record, one event a line.
std::vector<std::string> RunStandIn(const fs::path& work, const fs::path& folder, const fs::path& script = {}) {
    const StandInRun run = RunWithStandIn(work, script.empty() ? "sh \"" + (folder / "mainsqlscript.sh").string() + "\" srv db"
                                                               : "sqlcmd -i \"" + script.string() + "\"");
    EXPECT_EQ(run.status, 0) << run.output;
    return run.events;
}

// Nothing the stand-in acted on came from the data: the only commands are the list files' ":r" lines
// and the guards around the use lines, the only variables the run's own, and no line outside a module
// script starts inside a literal or name.
void ExpectNothingFromTheData(const std::vector<std::string>& events) {
    size_t scripts = 0;
    for (const std::string& event : events) {
        if (event.rfind("SCRIPT ", 0) == 0) {
            ++scripts;
        } else if (event.rfind("COMMAND ", 0) == 0) {
            if (event == "COMMAND :on error exit" || event == "COMMAND :on error ignore") continue;
            EXPECT_EQ(event.rfind("COMMAND :r \"Tables/", 0), 0u) << event;
            EXPECT_EQ(event.find('"', 20), event.size() - 1) << event;
        } else if (event.rfind("VARIABLE ", 0) == 0) {
            EXPECT_TRUE(event == "VARIABLE DBNAME" || event == "VARIABLE DIR") << event;
        } else {
            const bool module = event.find("Storeprocedure/") != std::string::npos ||
                                event.find("Functions/") != std::string::npos ||
                                event.find("Views/") != std::string::npos || event.find("Triggers/") != std::string::npos;
            EXPECT_TRUE(module) << event;
        }
    }
    EXPECT_GT(scripts, 0u);
}

TEST(HostileCatalogue, ValuesWithLineBreaksAndNulArriveWholeAndRunNoCommand) {
    const std::wstring crafted = L"a\r\nGO\r\n:!!touch pwned\n:r /etc/passwd\rEXIT" + std::wstring(1, L'\0') + L"tail";
    // Script save: the INSERT text joins the breaks in; the stand-in finds no line of the value's.
    if (!PythonMissing()) {
        const fs::path dir = ExportScratch("hostile-values");
        const ColumnDefList columns = {Column(L"id", L"int(4)", kTypeInt), Column(L"t", L"nvarchar(-1)", kTypeNVarChar),
                                       Column(L"v", L"varchar(-1)", kTypeVarChar)};
        std::wstring path = WriteTableScriptHeader(L"", Utf8ToWide(dir.string()), L"t", L"db");
        ASSERT_FALSE(path.empty());
        BinaryFile list;
        RunState state("");
        InsertScriptState script;
        script.currentTableName = L"t\nGO";
        const std::vector<RowValues> rows = {RowOf(columns, {L"1", crafted, L"x\n:!!id\n"}),
                                             RowOf(columns, {L"2", L"GO\r\n", L"\r\n:setvar a b"})};
        const std::wstring text = WriteInsertScripts(rows, columns, path, L"db", L"t", list, state, script);
        EXPECT_NE(text.find(L"N'a'+NCHAR(13)+NCHAR(10)+N'GO'+NCHAR(13)+NCHAR(10)+N':!!touch pwned'+NCHAR(10)+"), std::wstring::npos);
        EXPECT_NE(text.find(L"N'EXIT'+NCHAR(0)+N'tail'"), std::wstring::npos);
        const std::vector<std::string> events = RunStandIn(dir / "work", dir, WideToUtf8(path));
        EXPECT_EQ(events, (std::vector<std::string>{"SCRIPT " + WideToUtf8(path), "COMMAND :on error exit",
                                                    "COMMAND :on error ignore"}));
    }
    // Database save: the value is a bound parameter and arrives whole, NUL and all.
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    TdsEndpoint endpoint;
    ASSERT_TRUE(endpoint.running());
    RunState state("");
    RecordingProgressSink progress;
    CSqlExportSession session(state, progress);
    const SqlConnectionFields fields{L"db", L"sa", L"pw", endpoint.server(), L"FreeTDS"};
    ASSERT_TRUE(session.OpenTableForInsert(std::wstring(L"t\0x\r\n", 5), {std::wstring(L"c\0\n", 3)}, fields));
    session.InsertRow({crafted});
    const auto runs = endpoint.Events("execute");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]["text"], "INSERT INTO [tx] ([c]) VALUES (@P1)");
    EXPECT_EQ(runs[0]["params"][0]["value"].get<std::string>(), WideToUtf8(crafted));
}

// The first corpus set of the current catalogue layout whose log has operations of `names.size()`
// tables, those tables renamed, the first one given the hostile constraints and a crafted name for its
// first column.
bool OpenCrafted(ScannedSet& set, const std::vector<std::wstring>& names, std::wstring& column) {
    for (const auto& [corpusSet, logName] : SetsWithMatchingLog()) {
        ScannedSet probe;
        if (!probe.Open(corpusSet, logName) || probe.store.Tables().size() < names.size() || probe.state.legacyCatalog)
            continue;
        std::map<int32_t, std::wstring> renames;
        for (const auto& [id, name] : probe.store.Tables())
            if (renames.size() < names.size()) renames[static_cast<int32_t>(id)] = names[renames.size()];
        const uint32_t table = static_cast<uint32_t>(renames.begin()->first);
        return set.Open(corpusSet, logName, [&](CMetadataCatalog& catalog) {
            for (ObjectRecord& object : catalog.objects)
                if (renames.count(object.id)) object.name = renames[object.id];
            uint32_t columnId = 0;
            for (ColumnRecord& record : catalog.columns)
                if (record.objectId == table && columnId == 0) {
                    columnId = record.columnId;
                    record.name = L"c\r\nGO\r\n:!!id]'";
                    column = SanitizeSqlIdentifier(record.name);
                }
            // The definitions the file gave, with the crafted rows added as if they were the file's.
            auto& definitions = const_cast<std::vector<StringTriple>&>(catalog.ObjectDefinitions());
            AddHostileConstraints(catalog, definitions, table, columnId);
        });
    }
    return false;
}

const std::vector<std::wstring> kCraftedNames = {L"a\r\nGO\r\n", L"a\n:!!id", std::wstring(L"n\0ul]'x", 7)};

TEST(HostileCatalogue, DatabaseSaveRunsOnlyTheProgramsStatements) {
    KESTRANE_REQUIRE_CORPUS();
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    ScannedSet set;
    std::wstring column;
    if (!OpenCrafted(set, kCraftedNames, column)) GTEST_SKIP() << "no corpus log with three tables";
    TdsEndpoint endpoint;
    ASSERT_TRUE(endpoint.running());
    RecordingSaveView view;
    ScriptedPrompter prompter;
    RecordingProgressSink owner;
    const DatabaseSaveOptions options{{true, true, true, {}}, {L"Saved", L"sa", L"pw", endpoint.server(), L"FreeTDS"}, true,
                                      false};
    const DatabaseSaveResult result =
        DatabaseSaveRun(set.state, set.holder, set.store, *set.log, view, prompter, owner).Run(set.TickAll(), options);
    EXPECT_GE(result.tablesCreated.size(), kCraftedNames.size());

    const std::vector<std::wstring> statements = endpoint.Statements();
    for (const std::wstring& name : kCraftedNames) {
        const std::wstring create = L"Create TABLE  " + BracketedName(name) + L"(";
        EXPECT_TRUE(std::any_of(statements.begin(), statements.end(),
                                [&](const std::wstring& s) { return s.rfind(create, 0) == 0; }))
            << WideToUtf8(create);
    }
    for (const std::wstring& kept : KeptStatements(kCraftedNames[0], column))
        EXPECT_EQ(std::count(statements.begin(), statements.end(), kept), 1) << WideToUtf8(kept);
    EXPECT_EQ(column, L"cGO:id'");
    EXPECT_TRUE(std::any_of(statements.begin(), statements.end(), [](const std::wstring& s) {
        return s.rfind(L"INSERT INTO [aGO] ([cGO:id']", 0) == 0;
    }));
    for (const HostileConstraint& c : kConstraints)
        EXPECT_EQ(view.Logged(RefusedDefinitionLine(L"aGO", c.name)), !c.kept) << WideToUtf8(c.name);
    // Each statement is one of the program's: no break, NUL, comment, separator or second statement.
    for (const std::wstring& statement : statements) {
        const std::wstring syntax = Syntax(statement);
        EXPECT_EQ(statement.find_first_of(std::wstring(L"\r\n\0", 3)), std::wstring::npos) << WideToUtf8(statement);
        EXPECT_EQ(syntax.find_first_of(L";"), std::wstring::npos) << WideToUtf8(statement);
        EXPECT_EQ(syntax.find(L"--") + syntax.find(L"/*") + syntax.find(L"drop"), 3 * std::wstring::npos)
            << WideToUtf8(statement);
        EXPECT_LE(Count(syntax, L"alter table") + Count(syntax, L"create ") + Count(syntax, L"insert into"), 1u)
            << WideToUtf8(statement);
    }
}

TEST(HostileCatalogue, ScriptSaveLinesNeverStartInsideANameOrLiteral) {
    KESTRANE_REQUIRE_CORPUS();
    if (PythonMissing()) GTEST_SKIP() << "python3 is missing";
    ScannedSet set;
    std::wstring column;
    if (!OpenCrafted(set, kCraftedNames, column)) GTEST_SKIP() << "no corpus log with three tables";
    const fs::path root = ExportScratch("hostile-script"), out = root / "out";
    fs::create_directories(out);
    RecordingSaveView view;
    ScriptedPrompter prompter;
    InsertScriptState script;
    ScriptSaveOptions options;
    options.filter = {true, true, true, {}};
    options.scriptFolder = Utf8ToWide(out.string());
    options.saveConstraints = true;
    const ScriptSaveResult result =
        ScriptSaveRun(set.state, set.holder, set.store, *set.log, script, view, prompter).Run(set.TickAll(), options);
    EXPECT_TRUE(result.failedFiles.empty());
    const fs::path folder = WideToUtf8(result.folder);

    for (const HostileConstraint& c : kConstraints)
        EXPECT_EQ(view.Logged(RefusedDefinitionLine(L"aGO", c.name)), !c.kept) << WideToUtf8(c.name);
    std::wstring all;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.path().extension() == ".sql") all += ReadScript(Utf8ToWide(entry.path().string()));
    for (const std::wstring& kept : KeptStatements(kCraftedNames[0], column))
        EXPECT_EQ(Count(all, kept + L"\r\nGO\r\n"), 1u) << WideToUtf8(kept);
    EXPECT_EQ(all.find(L"drop table [Orders]"), std::wstring::npos);
    EXPECT_EQ(all.find(L'\0'), std::wstring::npos);

    ExpectNothingFromTheData(RunStandIn(root / "work", folder));
    for (const auto& entry : fs::recursive_directory_iterator(root))
        EXPECT_EQ(entry.path().filename().string().rfind("pwned", 0), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace kestrane
