// The script save where things go wrong: names crafted to leave the folder or run a command, Unicode
// names and continuation files, a stop in the middle, a folder that cannot be made, a full disk, a folder
// path with a quote.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

#include "ExportFixtures.h"
#include "ScriptFolderChecks.h"
#include "export/ConstraintStatements.h"
#include "export/ScriptSaveRun.h"
#include "sqltext/SqlNames.h"
#include "sqltext/SqlTextFixtures.h"
#include "support/TsqlParserCheck.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using namespace test;

struct Outcome {
    RecordingSaveView view;
    ScriptedPrompter prompter;
    ScriptSaveResult result;
};

Outcome Save(ScannedSet& set, const fs::path& dir, InsertScriptState& script, bool constraints = true,
             const std::function<void(RecordingSaveView&)>& prepare = {}) {
    Outcome out;
    if (prepare) prepare(out.view);
    ScriptSaveOptions options;
    options.filter = {true, true, true, {}};
    options.scriptFolder = Utf8ToWide(dir.string());
    options.saveConstraints = constraints;
    out.result = ScriptSaveRun(set.state, set.holder, set.store, *set.log, script, out.view, out.prompter).Run(set.TickAll(), options);
    return out;
}

TEST(ScriptSaveBadInput, CraftedTableNamesStayInTheFolderAndRunNoCommand) {
    KESTRANE_REQUIRE_CORPUS();
    const std::vector<std::wstring> crafted = {
        L"x", std::wstring(300, L't'), L"..", L"/", L"../../evil", L"100%PATH%", L"$(touch pwned1)",
        L"`touch pwned2`", L"'; touch pwned3; '", L"con", L"Mixed", L"mixed", L"a\"b|c", L"]; DROP TABLE x --"};
    ScannedSet set;
    if (!OpenSetWithTables(set, crafted.size(), crafted)) GTEST_SKIP() << "no corpus log with enough tables";
    const fs::path root = ExportScratch("crafted"), out = root / "out", work = root / "work";
    fs::create_directories(out);
    InsertScriptState script;
    const Outcome saved = Save(set, out, script);
    EXPECT_TRUE(saved.result.failedFiles.empty());
    const fs::path folder = out / U(DatabaseNameFromFilePath(set.state.dataFilePath));

    // Every file is inside the database's folder; every crafted table has its own.
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!fs::equivalent(entry.path(), out)) {
            EXPECT_EQ(fs::relative(entry.path(), folder).string().rfind("..", 0), std::string::npos) << entry.path();
        }
    }
    std::set<std::string> tableFolders;
    for (const auto& entry : fs::directory_iterator(folder / "Tables")) tableFolders.insert(entry.path().filename().string());
    for (const std::string expected : {"x", "__", "_", ".._.._evil", "100%PATH%", "_con", "Mixed", "mixed_2", "a_b_c", "_(touch pwned1)"})
        EXPECT_TRUE(tableFolders.count(expected)) << expected;
    EXPECT_TRUE(tableFolders.count(std::string(100, 't')));
    EXPECT_TRUE(saved.view.Logged(L"Table _(touch pwned1) : its name holds \"$(\", which sqlcmd reads as a variable: "
                                  L"its script will not run as written"));

    // Run with a stand-in sqlcmd: one call a script, and nothing that a name could start.
    std::vector<std::string> calls;
    RunShellWithRecordingSqlcmd(folder, {"srv", "db"}, work, calls);
    std::vector<uint8_t> bat;
    ASSERT_TRUE(ReadWholeFile((folder / "mainsqlscript.bat").string(), bat));
    const std::string batText(bat.begin(), bat.end());
    size_t batCalls = 0;
    for (size_t at = batText.find("\r\nsqlcmd "); at != std::string::npos; at = batText.find("\r\nsqlcmd ", at + 1)) ++batCalls;
    EXPECT_EQ(calls.size() * 2, batCalls);
    EXPECT_NE(batText.find("\"Tables\\100%%PATH%%\\maintablescript.sql\""), std::string::npos);
    for (const auto& entry : fs::recursive_directory_iterator(root))
        EXPECT_EQ(entry.path().filename().string().rfind("pwned", 0), std::string::npos) << entry.path();
    EXPECT_FALSE(fs::exists("pwned1") || fs::exists("pwned2") || fs::exists("pwned3"));

    // Names reach the T-SQL texts bracketed or quoted: every script still parses.
    std::vector<CheckedText> texts;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.path().extension() == ".sql")
            texts.push_back({entry.path().filename().string(), ReadScript(Utf8ToWide(entry.path().string()))});
    KESTRANE_REQUIRE_PARSER();
    EXPECT_GT(ExpectParserAccepts(texts, "crafted-names"), 0);
}

TEST(ScriptSaveBadInput, UnicodeNamesShareOneCounterAndContinuationFilesAreListed) {
    KESTRANE_REQUIRE_CORPUS();
    ScannedSet set;
    if (!OpenSetWithTables(set, 2, {L"Orders", L"\x8868\x683C"})) GTEST_SKIP() << "no corpus log with two tables";
    set.state.dataFilePath = L"/data/\x6570\x636E\x5E93.mdf";
    const fs::path dir = ExportScratch("unicode");
    InsertScriptState script;
    script.rollOverLimit = 1;  // every call past the first begins a continuation file
    script.rollOverCounter = 40;
    const Outcome saved = Save(set, dir, script);
    EXPECT_TRUE(saved.result.failedFiles.empty());
    const fs::path folder = dir / "\xE6\x95\xB0\xE6\x8D\xAE\xE5\xBA\x93";  // the folder keeps the name
    EXPECT_TRUE(fs::exists(folder / "UnicodeDatabase_1.sql"));
    const fs::path table = folder / "Tables" / "Unicodetable_2";
    ASSERT_TRUE(fs::exists(table));
    const std::wstring list = ReadScript(Utf8ToWide((table / "maintablescript.sql").string()));
    size_t listed = 0;
    std::wsmatch m;
    for (std::wstring rest = list; std::regex_search(rest, m, std::wregex(L"\r\n:r \"(Tables/Unicodetable_2/[^\"]+)\"")); rest = m.suffix().str()) {
        EXPECT_TRUE(fs::exists(folder / U(m[1].str()))) << U(m[1].str());
        ++listed;
    }
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(table)) files += entry.path().filename() != "maintablescript.sql";
    EXPECT_GT(files, 1u);
    EXPECT_EQ(listed, files);
    EXPECT_GT(script.rollOverCounter, 41u);
    EXPECT_TRUE(saved.view.Logged(L"Writing script for table Unicodetable_2 in file  Unicodetable_2.sql"));
}

TEST(ScriptSaveBadInput, AStopLeavesAConsistentFolder) {
    KESTRANE_REQUIRE_CORPUS();
    ScannedSet set;
    if (!OpenSetWithTables(set, 4)) GTEST_SKIP() << "no corpus log with four tables";
    const std::vector<TickedTable> ticked = set.TickAll();
    size_t stopAt = 1;  // a table after the first with at least two operations
    while (stopAt < ticked.size() && ticked[stopAt].operationCount < 2) ++stopAt;
    if (stopAt + 1 >= ticked.size()) GTEST_SKIP() << "no table to stop in";
    const fs::path dir = ExportScratch("stop");
    InsertScriptState script;
    size_t tables = 0;
    const Outcome saved = Save(set, dir, script, true, [&](RecordingSaveView& view) {
        view.onPosition = [&](uint64_t position) {
            if (position == 0) ++tables;
            if (tables == stopAt + 1 && position == 2) set.state.stopFlag = 1;
        };
    });
    EXPECT_EQ(set.state.stopFlag.load(), 0);
    EXPECT_TRUE(saved.view.finished);
    // The end says that the run was stopped, and where: the stop came before the row of the table's
    // second operation, so its first is the last one done.
    EXPECT_TRUE(saved.result.stopped);
    const std::wstring stoppedText =
        L"Saving process stopped after table " + set.store.Tables().at(ticked[stopAt].objectId) + L", operation 1.";
    ASSERT_EQ(saved.prompter.messages.size(), 1u);
    EXPECT_EQ(saved.prompter.messages[0].text, stoppedText);
    EXPECT_EQ(saved.view.lines.back(), stoppedText);
    EXPECT_FALSE(saved.view.Logged(L"Saving process completed."));
    // The stopped table's line accounts for the operations never reached.
    const std::vector<std::wstring> leftOut = LeftOutLines(saved.view.lines);
    ASSERT_EQ(leftOut.size(), 1u);
    EXPECT_TRUE(LeftOutLineAddsUp(leftOut[0])) << U(leftOut[0]);
    EXPECT_NE(leftOut[0].find(L" : " + std::to_wstring(ticked[stopAt].operationCount) + L" operations, 1 kept, "),
              std::wstring::npos) << U(leftOut[0]);
    EXPECT_NE(leftOut[0].find(L" not reached (stopped) ."), std::wstring::npos) << U(leftOut[0]);
    const fs::path folder = dir / U(DatabaseNameFromFilePath(set.state.dataFilePath));
    std::vector<std::wstring> written;
    for (size_t i = 0; i < ticked.size(); ++i) {
        const std::wstring name = SafePathComponent(set.store.Tables().at(ticked[i].objectId));
        written.push_back(name);
        EXPECT_EQ(fs::exists(folder / "Tables" / U(name)), i <= stopAt) << U(name);
    }
    // The stopped table got its tail and its one row; the batch files name exactly what is there.
    const std::wstring stopped = ReadScript(Utf8ToWide((folder / "Tables" / U(written[stopAt]) / (U(written[stopAt]) + ".sql")).string()));
    EXPECT_EQ(stopped.substr(stopped.size() - 4), L"\r\nGO");
    EXPECT_EQ(ScriptRows(folder, stopped).size(), 1u);
    EXPECT_TRUE(saved.view.Logged(L"Total Number of record Processed =  1 ."));
    EXPECT_FALSE(fs::exists(folder / "altertablecommandforeignkeys"));
    std::vector<uint8_t> bat;
    ASSERT_TRUE(ReadWholeFile((folder / "mainsqlscript.bat").string(), bat));
    EXPECT_EQ(std::string(bat.begin(), bat.end()),
              ExpectedBatchText(ScriptOrder(folder, DatabaseNameFromFilePath(set.state.dataFilePath) + L".sql", written)));
}

TEST(ScriptSaveBadInput, AFolderThatCannotBeMadeAndAFullDiskAreReported) {
    KESTRANE_REQUIRE_CORPUS();
    ScannedSet set;
    if (!OpenSetWithTables(set, 4)) GTEST_SKIP() << "no corpus log with four tables";
    const fs::path dir = ExportScratch("bad-folder");
    std::ofstream(dir / "file") << "not a folder";
    InsertScriptState script;
    Outcome saved = Save(set, dir / "file" / "sub", script);
    EXPECT_TRUE(saved.view.finished);
    EXPECT_TRUE(saved.result.batchFilePath.empty());
    ASSERT_GE(saved.view.lines.size(), 2u);
    const std::wstring& cannotOpen = saved.view.lines[saved.view.lines.size() - 2];
    EXPECT_EQ(cannotOpen.rfind(L"Can not open  File \" ", 0), 0u);
    EXPECT_NE(cannotOpen.find(L"mainsqlscript.bat \""), std::wstring::npos);
    // Said in a message and as the end state, not only in the list.
    ASSERT_EQ(saved.prompter.messages.size(), 1u);
    EXPECT_EQ(saved.prompter.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(saved.prompter.messages[0].text.rfind(L"Saving process failed: nothing can be written in \" ", 0), 0u);
    EXPECT_EQ(saved.view.lines.back(), saved.prompter.messages[0].text);
    EXPECT_EQ(set.state.blobsToFiles, 0);

    // Something of the database script's name that cannot be replaced: the script counts as a file not
    // written, and no batch file runs it.
    const fs::path blocked = ExportScratch("blocked-database-script");
    const fs::path blockedFolder = blocked / U(DatabaseNameFromFilePath(set.state.dataFilePath));
    const fs::path databaseScript = blockedFolder / (U(DatabaseNameFromFilePath(set.state.dataFilePath)) + ".sql");
    fs::create_directories(databaseScript / "inside");
    saved = Save(set, blocked, script);
    EXPECT_EQ(saved.result.failedFiles, std::vector<std::wstring>{Utf8ToWide(databaseScript.string())});
    EXPECT_TRUE(saved.view.Logged(L"Can not open  File \" " + Utf8ToWide(databaseScript.string()) + L" \""));
    ASSERT_EQ(saved.prompter.messages.size(), 1u);
    EXPECT_EQ(saved.prompter.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(saved.prompter.messages[0].text.rfind(L"Saving process ended with errors: 1 files could not be written whole", 0), 0u);
    std::vector<uint8_t> shell;
    ASSERT_TRUE(ReadWholeFile((blockedFolder / "mainsqlscript.sh").string(), shell));
    EXPECT_EQ(std::string(shell.begin(), shell.end()).find(databaseScript.filename().string()), std::string::npos);

    // Files may not grow past 3000 bytes: writes fail mid-file, as on a full disk.
    const fs::path full = ExportScratch("full-disk");
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = before;
    limit.rlim_cur = 3000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    saved = Save(set, full, script);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(saved.view.finished);
    ASSERT_FALSE(saved.result.failedFiles.empty());
    for (const std::wstring& path : saved.result.failedFiles) {
        EXPECT_TRUE(saved.view.Logged(L"Can not write  File \" " + path + L" \" : it is incomplete (is the disk full?)"))
            << U(path);
        EXPECT_LE(fs::file_size(U(path)), 3000u);
    }
    // The end is an error, in a message and in the list, never "completed".
    ASSERT_EQ(saved.prompter.messages.size(), 1u);
    EXPECT_EQ(saved.prompter.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(saved.prompter.messages[0].text.rfind(L"Saving process ended with errors: " +
                                                        std::to_wstring(saved.result.failedFiles.size()) +
                                                        L" files could not be written whole", 0), 0u);
    EXPECT_EQ(saved.view.lines.back(), saved.prompter.messages[0].text);
    // "Processed" counts the rows that stand whole in the table's file before the cut; the table's
    // line says how many could not be written, and its counts add up.
    const fs::path folder = full / U(DatabaseNameFromFilePath(set.state.dataFilePath));
    size_t cutTables = 0;
    for (const TickedTable& table : set.TickAll()) {
        const std::wstring name = SafePathComponent(set.store.Tables().at(table.objectId));
        const fs::path file = folder / "Tables" / U(name) / (U(name) + ".sql");
        if (!fs::exists(file)) continue;
        const std::wstring path = Utf8ToWide(file.string());
        const bool cut = std::find(saved.result.failedFiles.begin(), saved.result.failedFiles.end(), path) !=
                         saved.result.failedFiles.end();
        const std::wstring text = ReadScript(path);
        size_t whole = 0;
        for (size_t at = text.find(L" values( "); at != std::wstring::npos; at = text.find(L" values( ", at + 1)) {
            const size_t end = text.find(L")\r\n", at);
            whole += end != std::wstring::npos;
        }
        const std::wstring processed = L"Total Number of record Processed =  " + std::to_wstring(whole) + L" .";
        EXPECT_TRUE(saved.view.Logged(processed)) << U(name) << " " << whole;
        if (!cut) continue;
        ++cutTables;
        EXPECT_LT(whole, table.operationCount) << U(name);
    }
    EXPECT_GT(cutTables, 0u);
    const std::vector<std::wstring> leftOut = LeftOutLines(saved.view.lines);
    ASSERT_FALSE(leftOut.empty());
    for (const std::wstring& line : leftOut) EXPECT_TRUE(LeftOutLineAddsUp(line)) << U(line);
    EXPECT_TRUE(std::any_of(leftOut.begin(), leftOut.end(), [](const std::wstring& line) {
        return line.find(L" could not be written") != std::wstring::npos;
    }));
}

TEST(ScriptSaveBadInput, ForeignKeysNameOnlyTablesTheFolderCreates) {
    KESTRANE_REQUIRE_CORPUS();
    size_t keysChecked = 0, keysLeftOut = 0;
    for (const auto& [corpusSet, logName] : SetsWithMatchingLog()) {
        ScannedSet set;
        if (!set.Open(corpusSet, logName) || set.holder.Catalog()->foreignKeys.empty()) continue;
        SCOPED_TRACE(set.name);
        // Every other table ticked: keys to the others must not be written.
        std::vector<TickedTable> ticked;
        std::set<std::wstring> tickedNames;
        const std::vector<TickedTable> all = set.TickAll();
        for (size_t i = 0; i < all.size(); i += 2) {
            ticked.push_back(all[i]);
            tickedNames.insert(set.store.Tables().at(all[i].objectId));
        }
        const fs::path dir = ExportScratch("keys/" + set.name);
        ScriptSaveOptions options;
        options.filter = {true, true, true, {}};
        options.scriptFolder = Utf8ToWide(dir.string());
        RecordingSaveView view;
        ScriptedPrompter prompter;
        InsertScriptState script;
        ScriptSaveRun(set.state, set.holder, set.store, *set.log, script, view, prompter).Run(ticked, options);
        const fs::path keys = dir / U(DatabaseNameFromFilePath(set.state.dataFilePath)) / "altertablecommandforeignkeys";
        size_t written = 0;
        if (fs::exists(keys))
            for (const auto& entry : fs::directory_iterator(keys)) {
                const std::wstring text = ReadScript(Utf8ToWide(entry.path().string()));
                std::wsmatch m;
                ASSERT_TRUE(std::regex_search(text, m, std::wregex(L"^alter table \\[((?:[^\\]]|\\]\\])*)\\].* references \\[((?:[^\\]]|\\]\\])*)\\]\\(")))
                    << U(text);
                for (std::wstring name : {m[1].str(), m[2].str()}) {
                    for (size_t q = name.find(L"]]"); q != std::wstring::npos; q = name.find(L"]]", q + 1)) name.erase(q, 1);
                    EXPECT_TRUE(tickedNames.count(name)) << U(name);
                }
                ++written;
            }
        size_t expected = 0;
        for (const ForeignKeyDef& key : GroupForeignKeys(set.holder.Catalog()->foreignKeys)) {
            const bool both = tickedNames.count(key.table) && tickedNames.count(key.referencedTable);
            expected += both;
            keysLeftOut += !both;
        }
        EXPECT_LE(written, expected);
        keysChecked += written;
    }
    if (keysChecked + keysLeftOut == 0) GTEST_SKIP() << "no corpus set with foreign keys";
    EXPECT_GT(keysLeftOut, 0u);
}

TEST(ScriptSaveBadInput, AFolderPathWithAQuoteRunsThroughTheShellScript) {
    KESTRANE_REQUIRE_CORPUS();
    // A set whose rows hold binary large values: their OPENROWSET paths put $(DIR) inside N'...'. Its
    // tables' names hold "$(", which a path must not split.
    for (const auto& [corpusSet, logName] : SetsWithMatchingLog()) {
        ScannedSet set;
        if (!set.Open(corpusSet, logName, [](CMetadataCatalog& catalog) {
                for (ObjectRecord& object : catalog.objects)
                    if (object.type == L"U ") object.name += L"$(x)";
            }))
            continue;
        const fs::path root = ExportScratch("quote") / "o'brien's scripts";
        fs::create_directories(root);
        InsertScriptState script;
        const Outcome saved = Save(set, root, script, false);
        ASSERT_TRUE(saved.result.failedFiles.empty());
        const fs::path folder = root / U(DatabaseNameFromFilePath(set.state.dataFilePath));
        std::vector<fs::path> withBlobs;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.path().extension() == ".sql" &&
                ReadScript(Utf8ToWide(entry.path().string())).find(L"N'$(DIR)") != std::wstring::npos)
                withBlobs.push_back(entry.path());
        if (withBlobs.empty()) continue;
        SCOPED_TRACE(set.name);

        std::vector<std::string> calls;
        RunShellWithRecordingSqlcmd(folder, {"srv", "db"}, ExportScratch("quote-work"), calls);
        ASSERT_FALSE(calls.empty());
        const std::string call = calls.front();
        const size_t at = call.find("[DIR=");
        ASSERT_NE(at, std::string::npos) << call;
        const std::wstring dir = Utf8ToWide(call.substr(at + 5, call.find(']', at) - at - 5));
        // sqlcmd puts DIR into the text as it stands: every literal must still close where it should
        // and name a file of the folder.
        size_t checked = 0, paths = 0;
        for (const fs::path& file : withBlobs) {
            std::wstring text = ReadScript(Utf8ToWide(file.string()));
            for (size_t p = text.find(L"OPENROWSET(BULK "); p != std::wstring::npos; p = text.find(L"OPENROWSET(BULK ", p + 1))
                ++paths;
            for (size_t p = text.find(L"$(DIR)"); p != std::wstring::npos; p = text.find(L"$(DIR)", p + dir.size()))
                text.replace(p, 6, dir);
            static const std::wregex literal(L"BULK N'((?:[^']|'')*)',SINGLE_BLOB\\)");
            std::wsmatch m;
            for (std::wstring rest = text; std::regex_search(rest, m, literal); rest = m.suffix().str()) {
                std::wstring path = m[1].str();
                for (size_t q = path.find(L"''"); q != std::wstring::npos; q = path.find(L"''", q + 1)) path.erase(q, 1);
                EXPECT_TRUE(fs::is_regular_file(U(path))) << U(path);
                ++checked;
            }
        }
        EXPECT_GT(checked, 0u);
        EXPECT_EQ(checked, paths);  // each path one literal
        return;
    }
    GTEST_SKIP() << "no corpus set whose rows hold binary large values";
}

// The batch files run with the stand-in sqlcmd playing the server: a table script runs only in the
// named database, however the database script fails, and the .sh says by its status whether it worked.
TEST(ScriptSaveBadInput, NoTableScriptRunsOutsideItsDatabase) {
    KESTRANE_REQUIRE_CORPUS();
    if (std::system("python3 -c '' > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is missing";
    ScannedSet set;
    if (!OpenSetWithTables(set, 2)) GTEST_SKIP() << "no corpus log with two tables";
    TypeRecord type;
    type.schemaId = 1;
    type.name = L"Amount";
    type.systemTypeId = 56;  // int
    set.holder.Catalog()->types.push_back(type);
    const fs::path root = ExportScratch("standin-server"), work = root / "work";
    fs::create_directories(work);
    InsertScriptState script;
    const Outcome saved = Save(set, root, script, false);
    ASSERT_TRUE(saved.result.failedFiles.empty());
    const fs::path folder = U(saved.result.folder);
    const std::wstring types = ReadScript(Utf8ToWide((folder / "userdefinedatatype.sql").string()));
    EXPECT_EQ(types.rfind(L":on error exit\r\nuse [$(DBNAME)]\r\nGO\r\n:on error ignore\r\nCreate type [Amount]", 0), 0u)
        << U(types);

    const std::string databases = (work / "databases.txt").string();
    const auto run = [&](const std::string& existing, const std::string& fail, const std::string& command) {
        std::ofstream(databases) << existing;
        return RunWithStandIn(work, command, "STANDIN_DATABASES='" + databases + "' STANDIN_FAIL='" + fail + "'");
    };
    const std::string shell = "sh \"" + (folder / "mainsqlscript.sh").string() + "\" ";
    // Every table, type and row lands in the named database, never in master.
    const auto nothingInMaster = [](const StandInRun& r) {
        for (const std::string& e : r.events) {
            const bool object = e.find(" Create ") != std::string::npos || e.find(" insert into ") != std::string::npos;
            EXPECT_FALSE(e.rfind("EXECUTE master ", 0) == 0 && object) << e;
        }
    };

    StandInRun r = run("", "^$", shell + "srv Sales-2024");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(r.Has("EXECUTE Sales-2024 Create type [Amount]"));
    EXPECT_TRUE(r.Has("EXECUTE Sales-2024 Create TABLE"));
    EXPECT_FALSE(r.Has("ERROR "));
    nothingInMaster(r);

    // The login may not create a database, or the drop of the old one is refused: no table script runs.
    for (const auto& [existing, fail] : {std::pair<std::string, std::string>{"", "create database"},
                                         {"Sales-2024\n", "drop database"}}) {
        r = run(existing, fail, shell + "srv Sales-2024");
        EXPECT_NE(r.status, 0) << fail;
        EXPECT_TRUE(r.Has("EXIT 1")) << fail;
        EXPECT_FALSE(r.Has("SCRIPT userdefinedatatype.sql")) << fail;
        EXPECT_FALSE(r.Has("SCRIPT Tables/")) << fail;
        EXPECT_NE(r.output.find("failed: no table script was run."), std::string::npos) << r.output;
    }
    // A table script run on its own while its database is missing stops at its use line.
    r = run("", "^$", "sh -c \"cd '" + folder.string() + "' && sqlcmd -v DBNAME=Missing -i 'Tables/" +
                           U(SafePathComponent(set.store.Tables().begin()->second)) + "/maintablescript.sql'\"");
    EXPECT_EQ(r.status, 1) << r.output;
    ASSERT_TRUE(r.Has("EXIT 1")) << ::testing::PrintToString(r.events);
    EXPECT_FALSE(r.Has("EXECUTE "));
    // Through the .sh, table scripts that cannot reach their database make its status 1.
    r = run("", "Processing Table", shell + "srv Sales-2024");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.Has("EXECUTE Sales-2024 Create TABLE"));
    nothingInMaster(r);
    // Rows the server refuses do not end a table script, but the .sh names it with the count of its
    // refusals, and its status is 1.
    std::vector<std::string> tableFolders;
    for (const auto& entry : fs::directory_iterator(folder / "Tables")) tableFolders.push_back(entry.path().filename().string());
    r = run("", "insert into", shell + "user pw srv Sales-2024");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(r.Has("EXECUTE Sales-2024 Create TABLE"));
    size_t named = 0;
    for (const std::string& table : tableFolders) {
        const std::string script = "Tables/" + table + "/maintablescript.sql";
        const auto refused = std::count_if(r.events.begin(), r.events.end(), [&](const std::string& e) {
            return e.rfind("ERROR Tables/" + table + "/", 0) == 0;
        });
        const bool said = r.output.find("mainsqlscript.sh: the server refused " + std::to_string(refused) +
                                        " statements of " + script + ".\n") != std::string::npos;
        EXPECT_EQ(said, refused != 0) << script << "\n" << r.output;
        named += said;
    }
    EXPECT_GT(named, 0u);
    EXPECT_NE(r.output.find("mainsqlscript.sh: not every script ran cleanly: Tables/"), std::string::npos) << r.output;
    nothingInMaster(r);
    // A refused CREATE TABLE ends that table's script before its rows; the other tables' scripts still
    // run, each failed one is named, and the status is 1.
    r = run("", "Create TABLE", shell + "srv Sales-2024");
    EXPECT_EQ(r.status, 1) << r.output;
    for (const std::string& e : r.events) EXPECT_EQ(e.find(" insert into "), std::string::npos) << e;
    for (const std::string& table : tableFolders) {
        const std::string script = "Tables/" + table + "/maintablescript.sql";
        EXPECT_TRUE(r.Has("SCRIPT " + script)) << script;
        EXPECT_NE(r.output.find("mainsqlscript.sh: " + script + " failed.\n"), std::string::npos) << r.output;
    }

    // Without sqlcmd the .sh says so once and fails; any argument count but 2 and 4 gets the usage.
    const fs::path tools = work / "tools";
    fs::create_directories(tools);
    for (const char* tool : {"dirname", "sed"}) {
        std::error_code ec;
        fs::create_symlink(fs::path("/usr/bin") / tool, tools / tool, ec);
    }
    const std::string noSqlcmd = "PATH=\"" + tools.string() + "\" /bin/sh \"" + (folder / "mainsqlscript.sh").string() + "\" srv db";
    r = RunWithStandIn(work, "env " + noSqlcmd);
    EXPECT_EQ(r.status, 127);
    const size_t notFound = r.output.find("sqlcmd not found");
    ASSERT_NE(notFound, std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("sqlcmd not found", notFound + 1), std::string::npos) << r.output;
    for (const std::string args : {"a b c", "a b c d e"}) {
        r = RunWithStandIn(work, shell + args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_TRUE(r.events.empty()) << args;
        EXPECT_NE(r.output.find("[<user name> <password>] <server name> <database name>"), std::string::npos) << args;
    }
}

}  // namespace
}  // namespace kestrane
