#include <gtest/gtest.h>

#include <filesystem>

#include "SqlTextFixtures.h"
#include "support/CellRows.h"
#include "platform/TextCodec.h"
#include "sqltext/InsertScript.h"
#include "sqltext/ScriptFiles.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using test::Column;

using test::ReadScript;
using test::Scratch;

std::wstring W(const fs::path& p) { return Utf8ToWide(p.string()); }

const ColumnDefList kColumns = {Column(L"id", L"int(4)", kTypeInt), Column(L"name", L"varchar(10)", kTypeVarChar)};

std::vector<RowValues> Rows(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> values) {
    std::vector<RowValues> rows;
    for (const auto& [id, name] : values) rows.push_back(test::RowOf(kColumns, {id, name}));
    return rows;
}

TEST(ScriptFiles, HeadsAreUtf16AndNamesCannotLeaveTheirQuotesOrFolder) {
    const fs::path dir = Scratch("heads");
    const std::wstring folder = EnsureOutputFolder(W(dir) + L"/", L"..");
    EXPECT_EQ(folder, W(dir) + L"/__");
    const std::wstring dbScript = CreateScriptFile(L"../x", folder);
    ASSERT_EQ(dbScript, folder + L"/.._x.sql");
    EXPECT_EQ(WriteCreateDatabaseScript(dbScript, L"d'b]"), dbScript);
    const std::wstring db = ReadScript(dbScript);
    EXPECT_EQ(db.substr(0, 42), L"PRINT  ' Creating DataBase:d''b]' \r\nuse [m");
    EXPECT_NE(db.find(L" DROP DATABASE [d'b]]] \r\n"), std::wstring::npos);
    EXPECT_EQ(WriteCreateDatabaseScript(folder + L"/missing.sql", L"x"), L"");

    fs::create_directory(dir / "T");
    for (const wchar_t* evil : {L"..", L"../../x", L"a/../../b", L"\x01\x02", L"."}) {
        const std::wstring path = WriteTableScriptHeader(L"", W(dir / "T"), evil, L"db");
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(fs::weakly_canonical(WideToUtf8(path)).parent_path().parent_path(), fs::weakly_canonical(dir / "T"))
            << WideToUtf8(path);
    }
    const std::wstring quoted = WriteTableScriptHeader(L"Create TABLE  [A]([a] int)", W(dir / "T"), L"x' PRINT 1 --", L"d]b");
    EXPECT_EQ(ReadScript(quoted), L"PRINT  ' Processing Table :x'' PRINT 1 --' \r\nuse [d]]b]\r\n go \r\nCreate TABLE  [A]([a] int)");

    // A batch piece is 8-bit in the code page; an empty piece writes nothing.
    EXPECT_EQ(CStringToAnsi(L"caf\xE9", 1252), std::optional<std::string>("caf\xE9"));
    EXPECT_EQ(CStringToAnsi(L"", 1252), std::nullopt);
}

TEST(InsertScript, MultiRowAndIdentityFormsAndStop) {
    const fs::path dir = Scratch("insert");
    RunState state("");
    InsertScriptState script;
    script.currentTableName = L"T";
    std::wstring file = WriteTableScriptHeader(L"", W(dir), L"T", L"db");
    BinaryFile list;
    const auto rows = Rows({{L"1", L"a"}, {L"2", L"b"}, {L"3", L"c"}});
    auto write = [&](const std::vector<RowValues>& r, const ColumnDefList& c) {
        return WriteInsertScripts(r, c, file, L"$(DBNAME)", L"T", list, state, script);
    };

    const std::wstring multi = L"\r\n insert into [T] values( 1,'a'),\r\n(2,'b'),\r\n(3,'c')\r\n";
    EXPECT_EQ(write(rows, kColumns), multi);
    state.identityColumnSeen = 1;
    // The column list names the columns as the CREATE TABLE text did.
    ColumnDefList renamed = kColumns;
    renamed[1].name = L"first-name";
    const std::wstring identity = L"\r\n insert into [T] ([id],[firstname]) values( 1,'a')\r\n\r\n"
                                  L" insert into [T] ([id],[firstname]) values( 2,'b')\r\n";
    EXPECT_EQ(write(Rows({{L"1", L"a"}, {L"2", L"b"}}), renamed), identity);
    EXPECT_EQ(write({}, kColumns), L"");
    state.stopFlag = 1;
    EXPECT_EQ(write(rows, kColumns), L"");
    EXPECT_EQ(ReadScript(file), L"PRINT  ' Processing Table :T' \r\nuse [db]\r\n go \r\n" + multi + identity);
}

TEST(InsertScript, RollsOverPastTheLimitIntoListedContinuationFiles) {
    const fs::path dir = Scratch("rollover");
    RunState state("");
    InsertScriptState script;
    script.currentTableName = L"T";
    script.rollOverCounter = 6;  // kept across tables and runs
    fs::create_directories(dir / "Tables" / "T");
    std::wstring file = CreateScriptFile(L"T", W(dir / "Tables" / "T"));
    const std::wstring first = file;
    BinaryFile list;
    ASSERT_TRUE(list.open((dir / "Tables" / "T" / "maintablescript.sql").string(), BinaryFile::Mode::CreateWrite));
    WriteByteOrderMark(list);
    auto write = [&] { WriteInsertScripts(Rows({{L"1", L"a"}}), kColumns, file, L"$(DBNAME)", L"T", list, state, script); };

    write();
    script.rollOverLimit = fs::file_size(WideToUtf8(first));  // exactly at the limit: no roll-over
    write();
    EXPECT_EQ(file, first);
    const uint64_t grown = fs::file_size(WideToUtf8(first));
    // Past the limit: the next call begins T<length><counter>.sql and writes its rows there.
    write();
    const std::wstring name = L"T" + std::to_wstring(grown) + L"7.sql";
    EXPECT_EQ(file, W(dir / "Tables" / "T") + L"/" + name);
    EXPECT_EQ(script.rollOverCounter, 7u);
    EXPECT_EQ(fs::file_size(WideToUtf8(first)), grown);
    EXPECT_EQ(ReadScript(file), L"PRINT  ' Inserting in  Table :T' \r\nUse [$(DBNAME)]\r\n Go \r\n"
                                L"\r\n insert into [T] values( 1,'a')\r\n");
    list.close();
    EXPECT_EQ(ReadScript(W(dir / "Tables" / "T" / "maintablescript.sql")), L"\r\n:r \"Tables/T/" + name + L"\"");
}

}  // namespace
}  // namespace kestrane
