#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
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
    // A refused drop or create ends sqlcmd (so the batch files run no table script); the file sizes
    // after the create may fail without harm.
    EXPECT_EQ(db.substr(0, 58), L":on error exit\r\nPRINT  ' Creating DataBase:d''b]' \r\nuse [m");
    EXPECT_LT(db.find(L"CREATE DATABASE [d'b]]]\r\n GO \r\n:on error ignore\r\n ALTER DATABASE"), db.find(L"MODIFY FILE"));
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
    EXPECT_EQ(ReadScript(quoted), L"PRINT  ' Processing Table :x'' PRINT 1 --' \r\n:on error exit\r\nuse [d]]b]\r\n go \r\n"
                                 L":on error ignore\r\nCreate TABLE  [A]([a] int)");

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
    EXPECT_EQ(ReadScript(file), L"PRINT  ' Processing Table :T' \r\n:on error exit\r\nuse [db]\r\n go \r\n:on error ignore\r\n" +
                                    multi + identity);
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
    EXPECT_EQ(ReadScript(file), L"PRINT  ' Inserting in  Table :T' \r\n:on error exit\r\nUse [$(DBNAME)]\r\n Go \r\n"
                                L":on error ignore\r\n\r\n insert into [T] values( 1,'a')\r\n");
    list.close();
    EXPECT_EQ(ReadScript(W(dir / "Tables" / "T" / "maintablescript.sql")), L"\r\n:r \"Tables/T/" + name + L"\"");
}

// The table's file kept open and written in blocks leaves the same files as WriteInsertScripts call by
// call (both statement forms, a stop, roll-overs at the same lengths), and rows count as kept only once
// their block is out.
TEST(InsertScript, BufferedWriterLeavesTheSameFilesAndKeepsRowsOnceWritten) {
    struct Side {
        fs::path dir;
        std::wstring file;
        BinaryFile list;
        InsertScriptState script;
    };
    auto prepare = [](const std::string& name, Side& side) {
        side.dir = Scratch(name) / "Tables" / "T";
        fs::create_directories(side.dir);
        side.file = CreateScriptFile(L"T", W(side.dir));
        ASSERT_TRUE(side.list.open((side.dir / "maintablescript.sql").string(), BinaryFile::Mode::CreateWrite));
        WriteByteOrderMark(side.list);
        side.script.currentTableName = L"T";
        side.script.rollOverLimit = 200;
        side.script.rollOverCounter = 3;
    };
    Side plain, buffered;
    prepare("writer-plain", plain);
    prepare("writer-buffered", buffered);
    const std::wstring db = L"$(DBNAME)", table = L"T";
    RunState state("");
    InsertScriptWriter writer(buffered.file, db, table, buffered.list, buffered.script);
    uint64_t handed = 0;
    auto both = [&](const std::vector<RowValues>& rows, const ColumnDefList& columns) {
        WriteInsertScripts(rows, columns, plain.file, db, table, plain.list, state, plain.script);
        handed += writer.Write(rows, columns, state);
    };
    const auto three = Rows({{L"1", L"a"}, {L"2", L"b"}, {L"3", L"c"}});
    ColumnDefList renamed = kColumns;
    renamed[1].name = L"first-name";

    both(three, kColumns);
    EXPECT_EQ(fs::file_size(WideToUtf8(buffered.file)), 0u);  // still in the block
    EXPECT_EQ(writer.Take().keptOperations, 0u);
    state.identityColumnSeen = 1;
    both(Rows({{L"4", L"d"}, {L"5", L"e"}}), renamed);
    both({}, kColumns);  // past the limit: rolls over without rows
    state.identityColumnSeen = 0;
    for (int i = 0; i < 6; ++i) both(Rows({{L"6", L"f'"}}), kColumns);
    state.stopFlag = 1;
    both(three, kColumns);
    state.stopFlag = 0;
    writer.Append(L"\r\nGO");
    {
        BinaryFile tail;
        ASSERT_TRUE(tail.open(WideToUtf8(plain.file), BinaryFile::Mode::Append));
        WriteScriptText(tail, L"\r\nGO");
    }
    ASSERT_TRUE(writer.Flush());

    const InsertScriptSettled settled = writer.Take();
    EXPECT_EQ(settled.keptOperations, 8u);
    EXPECT_EQ(settled.keptRows, 11u);
    EXPECT_EQ(settled.notWritten, 0u);
    EXPECT_EQ(handed, 11u);
    EXPECT_EQ(buffered.script.failedWrites, 0u);
    EXPECT_EQ(plain.script.failedWrites, 0u);
    EXPECT_GT(plain.script.rollOverCounter, 5u);
    EXPECT_EQ(buffered.script.rollOverCounter, plain.script.rollOverCounter);
    EXPECT_EQ(fs::path(WideToUtf8(buffered.file)).filename(), fs::path(WideToUtf8(plain.file)).filename());
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(plain.dir)) {
        std::vector<uint8_t> expected, got;
        ASSERT_TRUE(ReadWholeFile(entry.path().string(), expected));
        ASSERT_TRUE(ReadWholeFile((buffered.dir / entry.path().filename()).string(), got)) << entry.path().filename();
        EXPECT_EQ(got, expected) << entry.path().filename();
        ++files;
    }
    EXPECT_EQ(files, static_cast<size_t>(std::distance(fs::directory_iterator(buffered.dir), fs::directory_iterator())));
    EXPECT_GT(files, 4u);
}

// A block cut by a full disk (here a file-size limit): the statements before the cut are kept, the one
// across it and those after are not written, and the failure is counted once per failed block.
TEST(InsertScript, BufferedWriterKeepsOnlyTheStatementsBeforeACut) {
    const fs::path dir = Scratch("writer-cut");
    std::wstring file = CreateScriptFile(L"T", W(dir));
    const std::wstring db = L"$(DBNAME)", table = L"T";
    BinaryFile list;
    RunState state("");
    InsertScriptState script;
    script.currentTableName = L"T";
    InsertScriptWriter writer(file, db, table, list, script);
    const auto row = Rows({{L"7", L"x"}});
    for (int i = 0; i < 10; ++i) EXPECT_EQ(writer.Write(row, kColumns, state), 1u);
    const uint64_t statement = 2 * std::wstring(L"\r\n insert into [T] values( 7,'x')\r\n").size();
    const uint64_t cut = 2 * statement + statement / 2;

    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = before;
    limit.rlim_cur = cut;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool flushed = writer.Flush();
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(flushed);
    EXPECT_EQ(script.failedWrites, 1u);
    EXPECT_EQ(fs::file_size(WideToUtf8(file)), cut);
    const InsertScriptSettled settled = writer.Take();
    EXPECT_EQ(settled.keptOperations, 2u);
    EXPECT_EQ(settled.keptRows, 2u);
    EXPECT_EQ(settled.notWritten, 8u);
    // A file that cannot be opened takes no rows and says so.
    std::wstring missing = W(dir / "missing.sql");
    InsertScriptState other;
    InsertScriptWriter lost(missing, db, table, list, other);
    EXPECT_EQ(lost.Write(row, kColumns, state), 1u);
    EXPECT_EQ(other.failedWrites, 1u);
    EXPECT_EQ(lost.Take().notWritten, 1u);
    EXPECT_FALSE(fs::exists(WideToUtf8(missing)));
}

}  // namespace
}  // namespace kestrane
