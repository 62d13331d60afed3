#include <gtest/gtest.h>

#include <filesystem>

#include "SqlTextFixtures.h"
#include "platform/TextCodec.h"
#include "sqltext/InsertScript.h"
#include "sqltext/ScriptFiles.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using test::Column;
using test::WithValue;

// A fresh folder under the build tree for one test.
fs::path Scratch(const std::string& name) {
    fs::path dir = fs::path(KESTRANE_BINARY_DIR) / "sqltext-scratch" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::wstring W(const fs::path& p) { return Utf8ToWide(p.string()); }

// The file as text, after checking that it is UTF-16LE with FF FE.
std::wstring ReadScript(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ReadWholeFile(WideToUtf8(path), bytes)) << WideToUtf8(path);
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
        ADD_FAILURE() << "no byte-order mark in " << WideToUtf8(path);
        return {};
    }
    return Utf16LeToWide(ByteView(bytes).from(2));
}

std::vector<ColumnDefList> Rows(const ColumnDefList& columns, std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> values) {
    std::vector<ColumnDefList> rows;
    for (const auto& [id, name] : values) rows.push_back({WithValue(columns[0], id), WithValue(columns[1], name)});
    return rows;
}

TEST(ScriptFiles, DatabaseAndTableScriptsAreUtf16WithTheirHeads) {
    const fs::path dir = Scratch("heads");
    const std::wstring folder = EnsureOutputFolder(W(dir) + L"/", L"Sales");
    EXPECT_EQ(folder, W(dir) + L"/Sales");
    ASSERT_TRUE(fs::is_directory(dir / "Sales"));

    const std::wstring dbScript = CreateScriptFile(L"Sales", folder);
    ASSERT_EQ(dbScript, folder + L"/Sales.sql");
    EXPECT_EQ(WriteCreateDatabaseScript(dbScript, L"$(DBNAME)"), dbScript);
    const std::wstring db = ReadScript(dbScript);
    EXPECT_EQ(db.substr(0, 40), L"PRINT  ' Creating DataBase:$(DBNAME)' \r\n");
    EXPECT_NE(db.find(L" DROP DATABASE [$(DBNAME)] \r\n Go \r\n"), std::wstring::npos);
    const std::wstring tail = L"N'$(DBNAME)_log', SIZE = 1024KB , MAXSIZE = 2048GB , FILEGROWTH = 10%) \r\n GO";
    EXPECT_EQ(db.substr(db.size() - tail.size()), tail);
    EXPECT_EQ(WriteCreateDatabaseScript(folder + L"/missing.sql", L"x"), L"");

    const std::wstring table = WriteTableScriptHeader(L"Create TABLE  [A]([a] int)\r\n GO\r\n", folder + L"/Tables", L"A", L"$(DBNAME)");
    EXPECT_EQ(table, L"");  // the Tables folder does not exist yet
    fs::create_directory(dir / "Sales" / "Tables");
    const std::wstring path = WriteTableScriptHeader(L"Create TABLE  [A]([a] int)\r\n GO\r\n", folder + L"/Tables", L"A", L"$(DBNAME)");
    EXPECT_EQ(path, folder + L"/Tables/A/A.sql");
    EXPECT_EQ(ReadScript(path),
              L"PRINT  ' Processing Table :A' \r\nuse [$(DBNAME)]\r\n go \r\nCreate TABLE  [A]([a] int)\r\n GO\r\n");

    // A batch piece is 8-bit in the code page; an empty piece writes nothing.
    EXPECT_EQ(CStringToAnsi(L"caf\xE9", 1252), std::optional<std::string>("caf\xE9"));
    EXPECT_EQ(CStringToAnsi(L"", 1252), std::nullopt);
}

TEST(ScriptFiles, NamesFromTheDataFileStayInsideTheOutputFolder) {
    const fs::path dir = Scratch("escape");
    const std::wstring folder = EnsureOutputFolder(W(dir) + L"/", L"..");
    EXPECT_EQ(folder, W(dir) + L"/_..");
    fs::create_directory(dir / "T");
    for (const wchar_t* evil : {L"..", L"../../x", L"a/../../b", L"\x01\x02", L"."}) {
        const std::wstring path = WriteTableScriptHeader(L"", W(dir / "T"), evil, L"db");
        ASSERT_FALSE(path.empty());
        const fs::path canonical = fs::weakly_canonical(WideToUtf8(path));
        EXPECT_EQ(canonical.parent_path().parent_path(), fs::weakly_canonical(dir / "T")) << WideToUtf8(path);
    }
    const std::wstring quoted = WriteTableScriptHeader(L"", W(dir / "T"), L"x' PRINT 1 --", L"d]b");
    EXPECT_EQ(ReadScript(quoted), L"PRINT  ' Processing Table :x'' PRINT 1 --' \r\nuse [d]]b]\r\n go \r\n");
}

TEST(InsertScript, MultiRowAndIdentityFormsAndStop) {
    const fs::path dir = Scratch("insert");
    RunState state("");
    InsertScriptState script;
    script.currentTableName = L"T";
    const ColumnDefList columns = {Column(L"id", L"int(4)", kTypeInt), Column(L"name", L"varchar(10)", kTypeVarChar)};
    std::wstring file = WriteTableScriptHeader(L"", W(dir), L"T", L"db");
    BinaryFile list;
    ASSERT_TRUE(list.open((dir / "list.sql").string(), BinaryFile::Mode::CreateWrite));
    const auto rows = Rows(columns, {{L"1", L"a"}, {L"2", L"b"}, {L"3", L"c"}});

    EXPECT_EQ(WriteInsertScripts(rows, columns, file, L"$(DBNAME)", L"T", list, state, script),
              L"\r\n insert into [T] values( 1,'a'),\r\n(2,'b'),\r\n(3,'c')\r\n");
    state.identityColumnSeen = 1;
    const std::wstring identity = WriteInsertScripts(rows, columns, file, L"$(DBNAME)", L"T", list, state, script);
    EXPECT_EQ(identity, L"\r\n insert into [T] ([id],[name]) values( 1,'a')\r\n\r\n insert into [T] ([id],[name]) values( 2,'b')"
                        L"\r\n\r\n insert into [T] ([id],[name]) values( 3,'c')\r\n");
    // The column list names the columns as the CREATE TABLE text did.
    ColumnDefList renamed = columns;
    renamed[1].name = L"first-name";
    EXPECT_EQ(WriteInsertScripts(Rows(renamed, {{L"4", L"d"}}), renamed, file, L"$(DBNAME)", L"T", list, state, script),
              L"\r\n insert into [T] ([id],[firstname]) values( 4,'d')\r\n");
    EXPECT_EQ(WriteInsertScripts({}, columns, file, L"$(DBNAME)", L"T", list, state, script), L"");

    state.stopFlag = 1;
    EXPECT_EQ(WriteInsertScripts(rows, columns, file, L"$(DBNAME)", L"T", list, state, script), L"");
    EXPECT_EQ(ReadScript(file), L"PRINT  ' Processing Table :T' \r\nuse [db]\r\n go \r\n"
                                L"\r\n insert into [T] values( 1,'a'),\r\n(2,'b'),\r\n(3,'c')\r\n" + identity +
                                    L"\r\n insert into [T] ([id],[firstname]) values( 4,'d')\r\n");
}

TEST(InsertScript, RollsOverPastTheLimitIntoListedContinuationFiles) {
    const fs::path dir = Scratch("rollover");
    RunState state("");
    InsertScriptState script;
    script.currentTableName = L"T";
    script.rollOverCounter = 6;  // kept across tables and runs
    const ColumnDefList columns = {Column(L"id", L"int(4)", kTypeInt), Column(L"name", L"varchar(10)", kTypeVarChar)};
    fs::create_directories(dir / "Tables" / "T");
    std::wstring file = CreateScriptFile(L"T", W(dir / "Tables" / "T"));
    const std::wstring first = file;
    BinaryFile list;
    ASSERT_TRUE(list.open((dir / "Tables" / "T" / "maintablescript.sql").string(), BinaryFile::Mode::CreateWrite));
    WriteByteOrderMark(list);
    const auto row = Rows(columns, {{L"1", L"a"}});

    // First call: the file is empty, so the row goes there and takes it to 2 + 2*38 bytes.
    WriteInsertScripts(row, columns, file, L"$(DBNAME)", L"T", list, state, script);
    const uint64_t size = fs::file_size(WideToUtf8(first));
    script.rollOverLimit = size;  // exactly at the limit: no roll-over
    WriteInsertScripts(row, columns, file, L"$(DBNAME)", L"T", list, state, script);
    EXPECT_EQ(file, first);
    const uint64_t grown = fs::file_size(WideToUtf8(first));
    // Past the limit: the next call begins T<length><counter>.sql and writes its rows there.
    WriteInsertScripts(row, columns, file, L"$(DBNAME)", L"T", list, state, script);
    const std::wstring name = L"T" + std::to_wstring(grown) + L"7.sql";
    EXPECT_EQ(file, W(dir / "Tables" / "T") + L"/" + name);
    EXPECT_EQ(script.rollOverCounter, 7u);
    EXPECT_EQ(fs::file_size(WideToUtf8(first)), grown);
    EXPECT_EQ(ReadScript(file), L"PRINT  ' Inserting in  Table :T' \r\nUse $(DBNAME)\r\n Go \r\n"
                                L"\r\n insert into [T] values( 1,'a')\r\n");
    list.close();
    EXPECT_EQ(ReadScript(W(dir / "Tables" / "T" / "maintablescript.sql")), L"\r\n:r \"Tables\\T\\" + name + L"\"");
}

}  // namespace
}  // namespace kestrane
