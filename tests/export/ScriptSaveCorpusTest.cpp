// The script save over every corpus set whose log matches its data file, with constraints on and off
// and with a kind and date filter: the folder, the batch files and the rows they hold, checked against
// the log's operations rebuilt here apart from the run.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <regex>
#include <set>

#include "ExportFixtures.h"
#include "ScriptFolderChecks.h"
#include "datafile/ValueText.h"
#include "export/ScriptSaveRun.h"
#include "logreader/OperationRebuild.h"
#include "sqltext/SqlNames.h"
#include "sqltext/SqlTextFixtures.h"
#include "sqltext/ValueLiteral.h"
#include "support/TsqlParserCheck.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using namespace test;

struct Totals {
    size_t tables = 0, rows = 0, matched = 0;
};

// One run of one set into `dir`, checked whole; the texts of its .sql files go to `texts`.
void RunAndCheck(test::ScannedSet& set, const fs::path& dir, bool constraints, const Filter& filter, bool runShell,
                 std::vector<test::CheckedText>& texts, Totals& totals) {
    SCOPED_TRACE(set.name + " " + dir.filename().string());
    fs::create_directories(dir);
    ScriptSaveOptions options;
    options.filter.saveInsert = filter.kinds.count(2);
    options.filter.saveDelete = filter.kinds.count(3);
    options.filter.saveUpdate = filter.kinds.count(4);
    if (filter.from != INT64_MIN) options.filter.dateRanges = {{DateOfSeconds(filter.from), DateOfSeconds(filter.to)}};
    options.scriptFolder = Utf8ToWide(dir.string());
    options.saveConstraints = constraints;
    test::RecordingSaveView view;
    test::ScriptedPrompter prompter;
    InsertScriptState script;
    const std::vector<TickedTable> ticked = set.TickAll();
    const ScriptSaveResult result =
        ScriptSaveRun(set.state, set.holder, set.store, *set.log, script, view, prompter).Run(ticked, options);

    EXPECT_TRUE(result.failedFiles.empty());
    EXPECT_TRUE(view.finished);
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text, L"Saving process completed.");
    const std::wstring databaseName = DatabaseNameFromFilePath(set.state.dataFilePath);
    const fs::path folder = dir / U(databaseName);
    ASSERT_EQ(result.folder, Utf8ToWide(folder.string()));
    // The batch file named at the end is the one this platform runs.
    EXPECT_EQ(result.batchFilePath, result.folder + L"/mainsqlscript.sh");
    EXPECT_EQ(view.statements.back(),
              L"Writing script has completed and  path for saved scripts is in " + result.batchFilePath + L"\r\n");

    // Rows, table by table, in the tick order.
    std::vector<std::wstring> tableFolders;
    for (const TickedTable& table : ticked) {
        const std::wstring name = set.store.Tables().at(table.objectId);
        tableFolders.push_back(SafePathComponent(name));
        const fs::path tableFolder = folder / "Tables" / U(tableFolders.back());
        if (!fs::exists(tableFolder)) {  // only a table the catalogue cannot re-create gets none
            EXPECT_TRUE(set.holder.Catalog()->BuildObjectLists(name, L"U ", {}).empty() ||
                        view.Logged(L"Empty query for table  " + name + L" .Table can not be created"))
                << U(name);
            continue;
        }
        ++totals.tables;
        std::wstring text;
        const std::wstring list = test::ReadScript(Utf8ToWide((tableFolder / "maintablescript.sql").string()));
        std::wsmatch m;
        for (std::wstring rest = list; std::regex_search(rest, m, std::wregex(L":r \"([^\"]*)\"")); rest = m.suffix().str()) {
            const fs::path file = folder / U(m[1].str());
            EXPECT_TRUE(fs::exists(file)) << file;
            text += test::ReadScript(Utf8ToWide(file.string()));
        }
        EXPECT_EQ(text.substr(text.size() - 4), L"\r\nGO");  // the tail closes the last file
        const std::vector<std::wstring> expected = ExpectedRows(set, table.objectId, filter);
        const std::vector<std::wstring> written = ScriptRows(folder, text);
        EXPECT_EQ(written, expected) << U(name);
        totals.rows += expected.size();
        for (size_t i = 0; i < std::min(expected.size(), written.size()); ++i) totals.matched += expected[i] == written[i];
        EXPECT_TRUE(view.Logged(L"Total Number of record Processed =  " + std::to_wstring(written.size()) + L" ."));
    }

    // The batch files run every script, in order; every .sql file is UTF-16 with its mark and parses.
    const auto order = ScriptOrder(folder, DatabaseNameFromFilePath(set.state.dataFilePath) + L".sql", tableFolders);
    std::vector<uint8_t> bat;
    ASSERT_TRUE(ReadWholeFile((folder / "mainsqlscript.bat").string(), bat));
    EXPECT_EQ(std::string(bat.begin(), bat.end()), test::ExpectedBatchText(order));
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.path().extension() != ".sql") continue;
        texts.push_back({set.name + "/" + fs::relative(entry.path(), dir).string(),
                         test::ReadScript(Utf8ToWide(entry.path().string()))});
    }

    if (!runShell) return;
    std::vector<std::string> calls;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"srv", "db name"}, {"user", "p'w $(x)", "srv", "db"}}) {
        test::RunShellWithRecordingSqlcmd(folder, args, dir, calls);
        ASSERT_EQ(calls.size(), order.size());
        const bool sql = args.size() == 4;
        const std::string login = sql ? "[-U][user][-P][p'w $(x)][-S][srv]" : "[-E][-S][srv]";
        const std::string database = sql ? "db" : "db name";
        for (size_t i = 0; i < order.size(); ++i)
            EXPECT_EQ(calls[i], folder.string() + "|" + login +
                                    (order[i].second ? "[-v][DBNAME=" + database + "][-v][DIR=" + folder.string() + "]"
                                                     : "[-d][" + database + "]") +
                                    "[-i][" + order[i].first + "]");
    }
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"srv"}}) {
        const std::string output = test::RunShellWithRecordingSqlcmd(folder, args, dir, calls);
        EXPECT_TRUE(calls.empty());
        EXPECT_NE(output.find("[<user name> <password>] <server name> <database name>"), std::string::npos);
    }
}

TEST(ScriptSaveCorpus, FoldersBatchFilesAndRowsMatchTheLoggedOperations) {
    KESTRANE_REQUIRE_CORPUS();
    std::vector<test::CheckedText> texts;
    Totals all, filtered;
    size_t sets = 0;
    std::set<std::string> checked;  // every pair that SOURCES.md lists, rows or none
    for (const auto& [corpusSet, logName] : test::SetsWithMatchingLog()) {
        test::ScannedSet set;
        const bool withRows = set.Open(corpusSet, logName);
        if (set.holder.Catalog()) checked.insert(corpusSet.name + "/" + corpusSet.dataFiles.front().filename().string());
        if (!withRows) continue;
        ++sets;
        const fs::path dir = test::ExportScratch("corpus/" + set.name);
        RunAndCheck(set, dir / "constraints", true, {{2, 3, 4, 6}}, true, texts, all);
        RunAndCheck(set, dir / "plain", false, {{2, 3, 4, 6}}, false, texts, all);
        // DELETE and UPDATE only, from the median operation's time (included) on.
        std::vector<int64_t> times;
        for (size_t i = 0; i < set.store.Size(); ++i) times.push_back(BeginSeconds(set.store[i].beginTime));
        std::sort(times.begin(), times.end());
        RunAndCheck(set, dir / "filtered", false, {{3, 4, 6}, times[times.size() / 2], times.back()}, false, texts,
                    filtered);
    }
    test::ExpectEveryListedChecked(test::CorpusListedPairKeys(), checked);
    EXPECT_EQ(all.matched, all.rows);
    EXPECT_EQ(filtered.matched, filtered.rows);
    std::cout << "script save: " << sets << " sets, " << all.tables << " table folders, rows matched " << all.matched
              << "/" << all.rows << "; filtered rows matched " << filtered.matched << "/" << filtered.rows << "\n";
    KESTRANE_REQUIRE_PARSER();
    EXPECT_GT(test::ExpectParserAccepts(texts, "script-save"), 0);
}

TEST(ScriptSaveCorpus, OperationsBegunBeforeTheLogMatchNoDateRangeAndAreCounted) {
    KESTRANE_REQUIRE_CORPUS();
    size_t sets = 0;
    for (const auto& [corpusSet, logName] : test::SetsWithMatchingLog()) {
        test::ScannedSet set;
        if (!set.Open(corpusSet, logName)) continue;
        std::map<std::wstring, uint64_t> beforeLog, operations;  // by table name
        for (size_t i = 0; i < set.store.Size(); ++i) {
            const OperationEntry& e = set.store[i];
            ++operations[set.store.TableName(e)];
            if (e.beginTime != 0) continue;
            ++beforeLog[set.store.TableName(e)];
            EXPECT_EQ(set.store.TransactionName(e), L"");  // no other transaction's name either
        }
        if (beforeLog.empty()) continue;
        ++sets;
        SCOPED_TRACE(set.name);
        // A range over every possible time still takes none of them.
        ScriptSaveOptions options;
        options.filter = {true, true, true, {{COleDateTime(1753, 1, 1, 0, 0, 0), COleDateTime(9999, 12, 31, 23, 59, 59)}}};
        const fs::path dir = test::ExportScratch("before-log/" + set.name);
        options.scriptFolder = Utf8ToWide(dir.string());
        test::RecordingSaveView view;
        test::ScriptedPrompter prompter;
        InsertScriptState script;
        ScriptSaveRun(set.state, set.holder, set.store, *set.log, script, view, prompter).Run(set.TickAll(), options);
        const std::vector<std::wstring> lines = test::LeftOutLines(view.lines);
        for (const auto& [table, count] : beforeLog) {
            const std::wstring head = L"Table " + table + L" : " + std::to_wstring(operations[table]) + L" operations, ";
            const auto line = std::find_if(lines.begin(), lines.end(),
                                           [&](const std::wstring& l) { return l.rfind(head, 0) == 0; });
            ASSERT_NE(line, lines.end()) << U(table);
            EXPECT_TRUE(test::LeftOutLineAddsUp(*line)) << U(*line);
            EXPECT_NE(line->find(L"(" + std::to_wstring(count) + L" of them begun before the log, without a time)"),
                      std::wstring::npos) << U(*line);
        }
        std::cout << set.name << ": " << beforeLog.size() << " tables with operations begun before the log\n";
    }
    // SOURCES.md: the tetests log holds 4 operations, all of transactions begun before it.
    if (sets == 0) GTEST_SKIP() << "no corpus log with operations begun before it";
}

}  // namespace
}  // namespace kestrane
