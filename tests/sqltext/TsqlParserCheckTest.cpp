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
#include "support/CellRows.h"
#include "datafile/CorpusFixture.h"
#include "datafile/DataPage.h"
#include "datafile/RowValueDecoder.h"
#include "platform/TextCodec.h"
#include "sqltext/CreateTableText.h"
#include "sqltext/InsertScript.h"
#include "sqltext/ScriptFiles.h"
#include "sqltext/SqlNames.h"
#include "support/Corpus.h"
#include "support/TsqlParserCheck.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using test::Column;
using test::CheckedText;
using test::ExpectParserAccepts;
using test::ParserMissing;
using test::RunParserCheck;

// The stored bytes of a sample value of each type.
std::vector<uint8_t> SampleBytes(const ColumnDef& column) {
    const uint64_t day = 738951;  // 2024-03-07
    uint64_t ticks = 37230;       // 10:20:30
    for (int i = 0; i < column.scale; ++i) ticks = ticks * 10 + (i + 1) % 10;
    const size_t tickBytes = column.scale <= 2 ? 3 : column.scale <= 4 ? 4 : 5;
    std::vector<uint8_t> out;
    switch (column.typeCode) {
        case kTypeBinary: case kTypeVarBinary: case kTypeImage: case kTypeHierarchyId: case kTypeGeometry:
        case kTypeGeography: case kTypeTimestamp: return {0x01, 0x02, 0xFF};
        case kTypeDateTime: return test::StoredBytes(column, L"2024-03-07 10:20:30.123");
        case kTypeSmallDateTime: return {0x6C, 0x02, 0x49, 0xB1};
        case kTypeDate: test::AppendLe(out, day, 3); return out;
        case kTypeTime: test::AppendLe(out, ticks, tickBytes); return out;
        case kTypeDateTime2: case kTypeDateTimeOffset:
            test::AppendLe(out, ticks, tickBytes);
            test::AppendLe(out, day, 3);
            if (column.typeCode == kTypeDateTimeOffset) test::AppendLe(out, static_cast<uint64_t>(-330), 2);
            return out;
        case kTypeUniqueIdentifier: return std::vector<uint8_t>(16, 0xAB);
        case kTypeSqlVariant: return {56, 1, 7, 0, 0, 0};
        case kTypeBigInt: case kTypeInt: case kTypeSmallInt: case kTypeTinyInt: return test::StoredBytes(column, L"-12");
        case kTypeMoney: case kTypeSmallMoney: case kTypeFloat: case kTypeReal: case kTypeNumeric: case kTypeDecimal:
            return test::StoredBytes(column, L"-12.34");
        case kTypeNChar: case kTypeNVarChar: case kTypeNText:
            return test::StoredBytes(column, L"O'Brien ]) ; -- $(DIR) \u0416\U0001F600");
        default: return test::StoredBytes(column, L"O'Brien ]) ; -- $(DIR)");
    }
}

// Writes a table's script as the script run does (head, CREATE TABLE, rows, tail) and returns its text.
std::wstring TableScript(const fs::path& folder, const std::wstring& table, const ColumnDefList& columns,
                         const std::vector<RowValues>& rows, RunState& state) {
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

// One row of sample values, one of NULLs, one of empty values and one of values the files do not give.
std::vector<RowValues> SampleRows(const ColumnDefList& columns) {
    std::vector<RowValues> rows(4, RowValues(columns.size(), 1252));
    for (size_t i = 0; i < columns.size(); ++i) {
        rows[0].SetValue(i, columns[i], ByteView(SampleBytes(columns[i])));
        rows[1].SetState(i, columns[i], CellState::Null);
        rows[2].SetValue(i, columns[i], ByteView());
    }
    return rows;
}

TEST(TsqlParserCheck, HandBuiltTablesAndScriptsAreAccepted) {
    KESTRANE_REQUIRE_PARSER();
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
    computed.definitionText = L"([c9]*(2))";
    all.push_back(computed);
    computed.definitionText = L"(1)\r\nGO\r\nDROP TABLE y";  // from a hostile data file: left out
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
    // Line breaks and NUL in names and values: names lose them, values join them in as CHAR/NCHAR.
    const ColumnDefList texty = {Column(L"a\nb", L"varchar(-1)", kTypeVarChar), Column(L"c", L"nvarchar(-1)", kTypeNVarChar)};
    const std::vector<RowValues> crafted = {
        test::RowOf(texty, {L"x\r\nGO\r\n:!!id", std::wstring(L"a\0b\n", 4)}),
        test::RowOf(texty, {std::wstring(4000, L'y') + L"\r", std::wstring(L"$(x)\r\n", 6)})};
    texts.push_back({"line breaks", TableScript(dir, L"t\r\nGO", texty, crafted, state)});
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
    KESTRANE_REQUIRE_PARSER();
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
                std::vector<RowValues> rows = SampleRows(columns);
                const bool byRowset = !catalog->currentRowsetColumns.empty();
                std::unique_ptr<TableLayout, void (*)(TableLayout*)> layout(BuildTableLayout(columns), DestroyTableLayout);
                for (const PageAddress& address : catalog->tablePages) {
                    if (rows.size() >= 24 || !layout) break;
                    std::unique_ptr<CDataPage> page = opened.holder.DataFile()->LoadDataPage(address);
                    if (!page) continue;
                    for (const RowValues& row : byRowset ? DecodeRowValuesByRowsetColumns(*page, *layout) : DecodeRowValues(*page, *layout)) {
                        if (rows.size() >= 24) break;
                        rows.push_back(row);
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
