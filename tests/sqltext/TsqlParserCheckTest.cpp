// The generated CREATE TABLE, INSERT and script texts against an outside T-SQL parser (node-sql-parser,
// installed for tests in tests/tools). Constructs that T-SQL has and that parser lacks are rewritten by
// tests/tools/check-tsql.js and listed; a text that it refuses even then fails the test.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "SqlTextFixtures.h"
#include "datafile/CorpusFixture.h"
#include "datafile/DataPage.h"
#include "datafile/RowValueDecoder.h"
#include "platform/TextCodec.h"
#include "sqltext/CreateTableText.h"
#include "sqltext/InsertScript.h"
#include "sqltext/ScriptFiles.h"
#include "sqltext/SqlNames.h"
#include "support/Corpus.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using test::Column;

struct CheckedText {
    std::string name;
    std::wstring text;
};

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    char escaped[8];
    for (unsigned char c : utf8) {
        std::snprintf(escaped, sizeof escaped, c < 0x20 ? "\\u%04x" : (c == '"' || c == '\\') ? "\\%c" : "%c", c);
        out += escaped;
    }
    return out + "\"";
}

fs::path ToolsDir() { return fs::path(KESTRANE_SOURCE_DIR) / "tests" / "tools"; }

// Why the check cannot run here, or "" when it can.
std::string ParserMissing() {
    if (std::system("node --version >/dev/null 2>&1") != 0) return "node is not installed";
    if (!fs::exists(ToolsDir() / "node_modules" / "node-sql-parser" / "package.json"))
        return "node-sql-parser is not installed (scripts/setup.sh installs it into tests/tools)";
    return {};
}

// The checker's output lines for the texts: "verdict TAB name TAB batch [TAB detail]".
std::vector<std::string> RunParserCheck(const std::vector<CheckedText>& texts, const std::string& label) {
    const fs::path input = fs::path(KESTRANE_BINARY_DIR) / ("tsql-check-" + label + ".json");
    {
        std::ofstream out(input, std::ios::binary);
        out << "[";
        for (size_t i = 0; i < texts.size(); ++i)
            out << (i ? ",\n" : "") << "{\"name\":" << JsonString(texts[i].name) << ",\"text\":" << JsonString(WideToUtf8(texts[i].text)) << "}";
        out << "]";
    }
    const std::string command = "node \"" + (ToolsDir() / "check-tsql.js").string() + "\" \"" + input.string() + "\" 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::vector<std::string> lines;
    if (!pipe) return lines;
    std::string output;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get())) output.append(buffer, n);
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Fails the test for every batch the parser refuses and prints a summary of the rest.
void ExpectParserAccepts(const std::vector<CheckedText>& texts, const std::string& label) {
    std::map<std::string, int> verdicts;
    for (const std::string& line : RunParserCheck(texts, label)) {
        const std::string verdict = line.substr(0, line.find('\t'));
        ++verdicts[verdict];
        if (verdict != "accepted" && verdict != "gaps") ADD_FAILURE() << "parser check: " << line;
    }
    EXPECT_GT(verdicts["accepted"] + verdicts["gaps"], 0);
}

// A value text of the kind the value formatter gives for each type.
std::wstring SampleValue(uint32_t code) {
    switch (code) {
        case kTypeBinary: case kTypeVarBinary: case kTypeImage: case kTypeHierarchyId: case kTypeGeometry:
        case kTypeGeography: case kTypeTimestamp: return L"0x0102FF";
        case kTypeDateTime: case kTypeSmallDateTime: return L"03/07/2024 10:20:30";
        case kTypeDate: case kTypeTime: case kTypeDateTime2: case kTypeDateTimeOffset: return L"2024-03-07 10:20:30.1234567";
        case kTypeBigInt: case kTypeInt: case kTypeSmallInt: case kTypeTinyInt: case kTypeMoney: case kTypeSmallMoney:
        case kTypeFloat: case kTypeReal: case kTypeNumeric: case kTypeDecimal: return L"-12.3400";
        case kTypeXml: return L"<a b='1'>x</a>";
        default: return L"O'Brien ]) ; --";
    }
}

// Writes a table's script as the script run does (head, CREATE TABLE, rows, tail) and returns its text.
std::wstring TableScript(const fs::path& folder, const std::wstring& table, const ColumnDefList& columns,
                         const std::vector<ColumnDefList>& rows, RunState& state) {
    InsertScriptState script;
    script.currentTableName = table;
    const std::wstring create = BuildCreateTableScript(columns, table, state);
    if (create.empty()) return {};
    std::wstring path = WriteTableScriptHeader(create + L"\r\n GO\r\n", Utf8ToWide(folder.string()), table, L"$(DBNAME)");
    BinaryFile list;
    WriteInsertScripts(rows, columns, path, L"$(DBNAME)", table, list, state, script);
    {
        BinaryFile file;
        if (!file.open(NativePath(path), BinaryFile::Mode::Append)) return {};
        if (state.identityColumnSeen == 1)
            WriteScriptText(file, L"\r\n GO\r\nSET IDENTITY_INSERT " + IdentityInsertTableName(table) + L" OFF");
        WriteScriptText(file, L"\r\nGO");
    }
    return test::ReadScript(path);
}

// One row of sample values, one of NULLs and one of empty texts.
std::vector<ColumnDefList> SampleRows(const ColumnDefList& columns) {
    std::vector<ColumnDefList> rows(3, columns);
    for (size_t i = 0; i < columns.size(); ++i) {
        rows[0][i].valueText = SampleValue(columns[i].typeCode);
        rows[1][i].valueText = L"NULL";
        rows[2][i].valueText = L"";
    }
    return rows;
}

TEST(TsqlParserCheck, HandBuiltTablesAndScriptsAreAccepted) {
    if (std::string why = ParserMissing(); !why.empty()) GTEST_SKIP() << why;
    const fs::path dir = test::Scratch("parser");

    ColumnDefList all;
    for (uint32_t code = 0; code <= kTypeXml; ++code) {
        if (code == kTypeUnused12 || code == kTypeSysName) continue;  // never in a built column list
        // A user type's name from the data file leads the varchar column's type text.
        ColumnDef c = Column(L"c" + std::to_wstring(code),
                             code == kTypeVarChar ? L"t(1\r\nGO\r\nDROP DATABASE d --(10)"
                                                  : L"x(" + std::to_wstring(code == kTypeNVarChar ? -1 : 16) + L")",
                             code);
        c.precision = 10;
        c.scale = 3;
        all.push_back(c);
    }
    all[0].identityText = L"identity(1,1)";
    all[0].nullable = 0;
    all[1].sparse = 1;
    all[2].name = L"O'Neil]] x-y";
    all[3].name = all[4].name = L"dup";
    all[14].status08Flag = 1;
    all[14].nullable = 0;
    ColumnDef computed = Column(L"total", L"int(4)", kTypeInt);
    computed.ordinal = kOrdinalNotStored;
    computed.valueText = L"([c9]*(2))";
    all.push_back(computed);
    computed.valueText = L"(1)\r\nGO\r\nDROP TABLE y";  // from a hostile data file: left out
    all.push_back(computed);

    RunState state("");
    std::vector<CheckedText> texts;
    const ColumnDefList plain = {Column(L"id", L"int(4)", kTypeInt), Column(L"name", L"nvarchar(20)", kTypeNVarChar)};
    for (const wchar_t* table : {L"Orders", L"Order Details", L"x]'; DROP TABLE y --", L"User"}) {
        const std::string name = WideToUtf8(table);
        texts.push_back({name + " create (database)", BuildCreateTableSql(all, table, state)});
        texts.push_back({name + " script", TableScript(dir, table, all, SampleRows(all), state)});
        texts.push_back({name + " script without identity", TableScript(dir, table, plain, SampleRows(plain), state)});
    }
    const std::wstring dbScript = WriteCreateDatabaseScript(CreateScriptFile(L"db", Utf8ToWide(dir.string())), L"$(DBNAME)");
    texts.push_back({"database script", test::ReadScript(dbScript)});
    ExpectParserAccepts(texts, "hand-built");

    // The check itself must catch a name or a value that breaks out of its brackets or quotes.
    const auto control = RunParserCheck({{"name", L"Create TABLE  [a]b]([x] int)"}, {"value", L"insert into [T] values( 'O'Brien')"}}, "control");
    ASSERT_EQ(control.size(), 2u);
    for (const std::string& line : control) EXPECT_EQ(line.substr(0, 8), "refused\t") << line;
}

TEST(TsqlParserCheck, CorpusTablesCreateAndInsertTextsAreAccepted) {
    KESTRANE_REQUIRE_CORPUS();
    if (std::string why = ParserMissing(); !why.empty()) GTEST_SKIP() << why;
    const fs::path dir = test::Scratch("corpus");
    std::vector<CheckedText> texts;
    size_t tables = 0;
    for (const test::CorpusSet& set : test::CorpusSets()) {
        for (const fs::path& path : set.dataFiles) {
            test::OpenedDataFile opened(path);
            CMetadataCatalog* catalog = opened.catalog;
            if (!catalog) continue;
            RunState& state = opened.state;
            std::vector<std::wstring> names;
            for (const ObjectRecord& object : catalog->objects)
                if (object.type == L"U ") names.push_back(object.name);
            const fs::path folder = dir / set.name / path.stem();
            fs::create_directories(folder);
            for (const std::wstring& table : names) {
                const ColumnDefList columns = catalog->BuildObjectLists(table, L"U ", {});
                if (columns.empty()) continue;
                ++tables;
                // Up to 20 rows as the decoders give them, and the sample rows.
                std::vector<ColumnDefList> rows = SampleRows(columns);
                const bool byRowset = !catalog->currentRowsetColumns.empty();
                std::unique_ptr<TableLayout, void (*)(TableLayout*)> layout(BuildTableLayout(columns), DestroyTableLayout);
                for (const PageAddress& address : catalog->tablePages) {
                    if (rows.size() >= 23 || !layout) break;
                    std::unique_ptr<CDataPage> page = opened.holder.DataFile()->LoadDataPage(address);
                    if (!page) continue;
                    for (ColumnDefList& row : byRowset ? DecodeRowValuesByRowsetColumns(*page, *layout) : DecodeRowValues(*page, *layout)) {
                        if (rows.size() >= 23) break;
                        rows.push_back(std::move(row));
                    }
                }
                const std::string name = set.name + "/" + path.filename().string() + " " + WideToUtf8(table);
                texts.push_back({name + " create (database)", BuildCreateTableSql(columns, table, state)});
                texts.push_back({name + " script", TableScript(folder, table, columns, rows, state)});
            }
        }
    }
    ASSERT_GT(tables, 0u);
    ExpectParserAccepts(texts, "corpus");
}

}  // namespace
}  // namespace kestrane
