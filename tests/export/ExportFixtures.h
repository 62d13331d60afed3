#pragma once
// Doubles and corpus helpers for the save tests: a recorded progress view, a corpus set opened with its
// log scanned (tables may be renamed first), and the batch text the script folder must hold.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "export/SaveProgressView.h"
#include "export/TickedTableWalk.h"
#include "logreader/LogScanner.h"
#include "platform/TextCodec.h"
#include "support/Corpus.h"
#include "support/RecordingSinks.h"

namespace kestrane::test {

struct RecordingSaveView : SaveProgressView {
    void AddLine(uint32_t row, const std::wstring& text) override {
        EXPECT_EQ(row, lines.size());
        lines.push_back(text);
    }
    void SetProgressRange(uint64_t upper) override { range = upper; }
    void SetProgressPosition(uint64_t p) override {
        position = p;
        if (onPosition) onPosition(p);
    }
    void ShowStatement(const std::wstring& text) override { statements.push_back(text); }
    void SetFinished() override { finished = true; }

    bool Logged(const std::wstring& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }

    std::vector<std::wstring> lines, statements;
    uint64_t range = 0, position = 0;
    bool finished = false;
    std::function<void(uint64_t)> onPosition;
};

// The lines of a save log that account for a table's left-out operations.
inline std::vector<std::wstring> LeftOutLines(const std::vector<std::wstring>& lines) {
    std::vector<std::wstring> out;
    for (const std::wstring& line : lines)
        if (line.rfind(L"Table ", 0) == 0 && line.find(L" kept, left out ") != std::wstring::npos) out.push_back(line);
    return out;
}

// "Table T : N operations, K kept, left out a why, b why (x of them ...), ...[; stand-ins] ." adds up: K
// and the leading counts of the parts make N.
inline bool LeftOutLineAddsUp(const std::wstring& line) {
    const size_t operations = line.rfind(L" operations, ");
    const size_t kept = line.find(L" kept, left out ", operations);
    const size_t head = line.rfind(L" : ", operations);
    if (operations == std::wstring::npos || kept == std::wstring::npos || head == std::wstring::npos ||
        line.size() < 2 || line.compare(line.size() - 2, 2, L" .") != 0)
        return false;
    const uint64_t total = std::stoull(line.substr(head + 3, operations - head - 3));
    uint64_t sum = std::stoull(line.substr(operations + 13, kept - operations - 13));
    const size_t end = std::min(line.size() - 2, line.find(L"; ", kept));
    const std::wstring parts = line.substr(kept + 16, end - kept - 16) + L", ";
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (parts[i] == L'(') ++depth;
        if (parts[i] == L')') --depth;
        if (depth == 0 && parts[i] == L',' && parts[i + 1] == L' ') {
            sum += std::stoull(parts.substr(start, parts.find(L' ', start) - start));
            start = i + 2;
        }
    }
    return sum == total;
}

// A fresh folder under the build tree for one test.
inline std::filesystem::path ExportScratch(const std::string& name) {
    std::filesystem::path dir = std::filesystem::path(KESTRANE_BINARY_DIR) / "export-scratch" / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// A corpus data file opened with the log that matches it, scanned as the analysis run scans it.
struct ScannedSet {
    RunState state{""};
    NullProgressSink progress;
    CDbFileHolder holder{state, progress};
    BinaryFile logFile;
    OperationStore store;
    std::unique_ptr<FileLogSource> log;
    std::string name;

    // `rename` may change the catalogue's object names before the user-table map is built.
    bool Open(const CorpusSet& set, const std::string& logName,
              const std::function<void(CMetadataCatalog&)>& rename = {}) {
        name = set.name;
        if (set.dataFiles.empty() || !holder.Open(Utf8ToWide(set.dataFiles.front().string())) || !holder.Catalog())
            return false;
        state.dataFilePath = Utf8ToWide(set.dataFiles.front().string());
        if (rename) rename(*holder.Catalog());
        UserTableMap tables;
        BuildUserTableMap(*holder.Catalog(), tables);
        ScriptedPrompter prompter;
        ScanLdfFile(logFile, (set.folder / logName).string(), tables, store, prompter);
        log = std::make_unique<FileLogSource>(logFile);
        return !store.Empty();
    }

    // Every table with operations, ticked, in the tree's order (labels sorted).
    std::vector<TickedTable> TickAll() const {
        std::vector<std::pair<std::wstring, TickedTable>> items;
        for (const auto& [id, table] : store.Tables()) {
            const uint64_t count = store.EntriesOfTable(id).size();
            items.push_back({table + L"[" + std::to_wstring(count) + L"]", {id, count}});
        }
        std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<TickedTable> ticked;
        for (const auto& item : items) ticked.push_back(item.second);
        return ticked;
    }
};

// The corpus sets whose data file has a matching log, each with that log's name.
inline std::vector<std::pair<CorpusSet, std::string>> SetsWithMatchingLog() {
    std::vector<std::pair<CorpusSet, std::string>> out;
    const auto summary = CorpusSummary();
    for (const CorpusSet& set : CorpusSets()) {
        if (set.dataFiles.empty()) continue;
        for (const SummaryFacts& s : summary)
            if (s.set == set.name && s.dataFile == set.dataFiles.front().filename().string() && !s.matchingLog.empty())
                out.push_back({set, s.matchingLog});
    }
    return out;
}

// The first corpus set whose log holds operations of at least `tables` tables, with those tables'
// names changed (in list order) before the scan; false when the corpus has none.
inline bool OpenSetWithTables(ScannedSet& set, size_t tables, const std::vector<std::wstring>& names = {}) {
    for (const auto& [corpusSet, logName] : SetsWithMatchingLog()) {
        ScannedSet probe;
        if (!probe.Open(corpusSet, logName) || probe.store.Tables().size() < tables) continue;
        std::map<int32_t, std::wstring> renames;
        size_t i = 0;
        for (const auto& [id, name] : probe.store.Tables())
            if (i < names.size()) renames[static_cast<int32_t>(id)] = names[i++];
        return set.Open(corpusSet, logName, [&](CMetadataCatalog& catalog) {
            for (ObjectRecord& object : catalog.objects)
                if (renames.count(object.id)) object.name = renames[object.id];
        });
    }
    return false;
}

// "mainsqlscript.bat" for scripts run in this order (true: a database script, false: a key script),
// spelled out here apart from the writer. A first database script at the folder's root (not the user
// types) is the one that creates the database; every other script is checked after it runs.
inline std::string ExpectedBatchText(const std::vector<std::pair<std::string, bool>>& scripts) {
    std::string windows, sql;
    for (const auto& [path, database] : scripts) {
        std::string quoted = "\"";
        for (char c : path) quoted += c == '/' ? std::string("\\") : c == '%' ? std::string("%%") : std::string(1, c);
        quoted += "\"";
        const bool creates = database && &path == &scripts.front().first && path.find('/') == std::string::npos &&
                             path != "userdefinedatatype.sql";
        const std::string before = creates ? "" : "\r\nset \"kscript=" + quoted.substr(1);
        const std::string after = creates ? " || goto failed" : " -r0 2>\"%kerr%\"\r\ncall :checked %errorlevel%";
        windows += before + (database ? "\r\nsqlcmd -E -S %1 -v DBNAME=%2 -v DIR=\"%kdir%\" -i "
                                      : "\r\nsqlcmd -E -S %1 -d %2 -i ") + quoted + after;
        sql += before + (database ? "\r\nsqlcmd -U %1 -P %2 -S %3 -v DBNAME=%4 -v DIR=\"%kdir%\" -i "
                                  : "\r\nsqlcmd -U %1 -P %2 -S %3 -d %4 -i ") + quoted + after;
    }
    return "@echo off\r\nset \"kdir=%~dp0.\"\r\nset \"kdir=%kdir:'=''%\"\r\nset op1=false\r\nset op2=false\r\n"
           "if not \"%0\"==\"\" (if not \"%1\"==\"\" (if not \"%2\"==\"\" set op1=true))\r\n"
           "if not \"%3\"==\"\" (if not \"%4\"==\"\" set op2=true)\r\n"
           "if not \"%3\"==\"\" (if \"%4\"==\"\" goto label3)\r\nif not \"%5\"==\"\" goto label3\r\n"
           "if not \"%op1%\"==\"true\" goto label3\r\npushd \"%~dp0\" || exit /b 1\r\n"
           "set \"kerr=%TEMP%\\mainsqlscript-%RANDOM%.txt\"\r\n"
           "if not defined TEMP set \"kerr=%~dp0mainsqlscript-errors.txt\"\r\nset kfailed=0\r\n"
           "if \"%op1%\"==\"true\" (if \"%op2%\"==\"true\" goto label2)\r\n"
           "if \"%op1%\"==\"true\" (if \"%op2%\"==\"false\" goto label1)\r\n"
           "goto label3 \r\n:label1" +
           windows + "\r\ngoto done\r\n:label2" + sql +
           "\r\ngoto done\r\n:failed\r\necho The database script failed: no table script was run.\r\npopd\r\nexit /b 1"
           "\r\n:done\r\npopd\r\nif exist \"%kerr%\" del \"%kerr%\"\r\n"
           "if \"%kfailed%\"==\"1\" (echo mainsqlscript.bat: not every script ran cleanly, see the scripts named above.& "
           "exit /b 1)\r\ngoto end"
           "\r\n:checked\r\ntype \"%kerr%\" 1>&2\r\nset kcount=0\r\n"
           "for /f %%n in ('findstr /b /c:\"Msg \" \"%kerr%\" ^| find /c /v \"\"') do set kcount=%%n\r\n"
           "if not \"%1\"==\"0\" (set kfailed=1& echo mainsqlscript.bat: \"%kscript%\" failed.)\r\n"
           "if not \"%kcount%\"==\"0\" (set kfailed=1& echo mainsqlscript.bat: the server refused %kcount% statements of "
           "\"%kscript%\".)\r\nexit /b 0"
           "\r\n:label3\r\necho.\r\necho Syntax:\r\n"
           "echo\t^[^<user name^> ^<password^>^] ^<server name^> ^<database name^>\r\n"
           "echo.\r\necho  Options:\r\necho.\r\n"
           "echo    user name password : user name and password for SQL Server^(for SQL Server Aut" +
           std::string(24, ' ') +
           "hentication^)\r\necho.\r\necho    server name        : instance of SQL Server to which to connect\r\n"
           "echo.\r\necho    database name      : name of database to which data will be exported\r\necho.\r\n"
           "echo    Warning: a database of that name is DROPPED first, with all its data, then created anew.\r\n"
           "echo    Never give the name of a database you want to keep.\r\necho.\r\nexit /b 1\r\n:end";
}

// Runs "mainsqlscript.sh" (from another folder) with a stand-in sqlcmd that records the folder it runs
// in and its arguments, one call a line: "<cwd>|[arg][arg]...". Returns the script's output.
inline std::string RunShellWithRecordingSqlcmd(const std::filesystem::path& folder, const std::vector<std::string>& args,
                                               const std::filesystem::path& work, std::vector<std::string>& calls) {
    namespace fs = std::filesystem;
    const fs::path bin = work / "bin", record = work / "calls.txt", output = work / "output.txt";
    fs::create_directories(bin);
    fs::remove(record);
    {
        std::ofstream stub(bin / "sqlcmd");
        stub << "#!/bin/sh\n{ printf '%s|' \"$PWD\"; for a in \"$@\"; do printf '[%s]' \"$a\"; done; printf '\\n'; } >> \""
             << record.string() << "\"\n";
    }
    fs::permissions(bin / "sqlcmd", fs::perms::owner_all);
    std::string command = "cd \"" + work.string() + "\" && PATH=\"" + bin.string() + ":$PATH\" sh \"" +
                          (folder / "mainsqlscript.sh").string() + "\"";
    for (const std::string& arg : args) {
        command += " '";
        for (char c : arg) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += "'";
    }
    std::system((command + " > \"" + output.string() + "\" 2>&1").c_str());
    calls.clear();
    std::ifstream in(record);
    for (std::string line; std::getline(in, line);) calls.push_back(line);
    std::ifstream out(output);
    return std::string(std::istreambuf_iterator<char>(out), std::istreambuf_iterator<char>());
}

// What the stand-in sqlcmd (tests/tools/sqlcmd_standin.py) recorded for one command run in `work`
// with it first on the PATH, and the command's exit status and output.
struct StandInRun {
    int status = -1;
    std::vector<std::string> events;
    std::string output;

    bool Has(const std::string& prefix) const {
        return std::any_of(events.begin(), events.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    }
};

// `environment` is put before the command as it stands ("NAME='value' ...").
inline StandInRun RunWithStandIn(const std::filesystem::path& work, const std::string& command,
                                 const std::string& environment = {}) {
    namespace fs = std::filesystem;
    const fs::path bin = work / "bin", record = work / "standin.txt", output = work / "output.txt";
    fs::create_directories(bin);
    fs::remove(record);
    {
        std::ofstream stub(bin / "sqlcmd");
        stub << "#!/bin/sh\nexec python3 \"" << KESTRANE_SOURCE_DIR << "/tests/tools/sqlcmd_standin.py\" \"$@\"\n";
    }
    fs::permissions(bin / "sqlcmd", fs::perms::owner_all);
    const std::string line = "cd \"" + work.string() + "\" && STANDIN_LOG=\"" + record.string() + "\" PATH=\"" +
                             bin.string() + ":$PATH\" " + environment + " " + command + " > \"" + output.string() +
                             "\" 2>&1";
    StandInRun run;
    const int raw = std::system(line.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(record);
    for (std::string event; std::getline(in, event);) run.events.push_back(event);
    std::ifstream out(output);
    run.output.assign(std::istreambuf_iterator<char>(out), std::istreambuf_iterator<char>());
    return run;
}

}  // namespace kestrane::test
