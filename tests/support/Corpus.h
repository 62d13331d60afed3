#pragma once
// The real database files under $KESTRANE_CORPUS (default ../shared/corpus beside the repo) and the
// facts that its SOURCES.md lists for them. Tests that use them skip when the folder is absent.
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kestrane::test {

struct CorpusSet {
    std::string name;                              // folder name, e.g. "pubs-2008-itsligo"
    std::filesystem::path folder;
    std::vector<std::filesystem::path> dataFiles;  // *.mdf (case-insensitive): primary files, opened
    // *.ndf: secondary files, never opened alone; read with their primary, as the program reads them
    std::vector<std::filesystem::path> secondaryFiles;
    std::vector<std::filesystem::path> logFiles;   // *.ldf
};

// One row of SOURCES.md's boot-page table, keyed "set/file".
struct BootFacts {
    int version = 0;
    std::string release;  // the release the version cell names in parentheses ("2016"), or "" / "?"
    int createVersion = 0;
    std::wstring databaseName;  // as listed, between backticks
    long long collationId = 0;
    long long pages = 0;
};

// One row of SOURCES.md's summary table.
struct SummaryFacts {
    std::string set, dataFile, matchingLog;  // matchingLog: the log named in "VLFs (matching log)", or ""
    int userTables = 0;
    long long rows = 0;
};

std::optional<std::filesystem::path> CorpusRoot();
std::vector<CorpusSet> CorpusSets();
// Parsed SOURCES.md tables (empty when absent).
std::map<std::string, BootFacts> CorpusBootFacts();
std::vector<SummaryFacts> CorpusSummary();
// One user table of SOURCES.md's schema listing ("- `name` rows=N, ...: col type, col type").
struct TableFacts {
    std::wstring name;
    long long rows = 0;
    std::vector<std::pair<std::wstring, std::wstring>> columns;  // {column name, type text as listed}
};
// The schema listing, keyed "set/file" (tables in listed order).
std::map<std::string, std::vector<TableFacts>> CorpusTableFacts();
// Every corpus data file that the schema listing covers, with its listed tables.
struct ListedDataFile {
    std::string key;  // "set/file"
    std::filesystem::path path;
    std::vector<TableFacts> tables;
};
std::vector<ListedDataFile> CorpusListedDataFiles();
// The raw SOURCES.md text ("" when absent).
std::string CorpusSourcesText();

// "set/file" of every file of SOURCES.md's files table of one kind: data files (.mdf, .ndf), logs
// (.ldf) or scripts (.sql). Corpus tests check every one of them, however many the folder has.
enum class ListedKind { DataFile, Log, Script };
std::set<std::string> CorpusListedFileKeys(ListedKind kind);
// "set/data file" of every summary row that names the log holding the data file's last change.
std::set<std::string> CorpusListedPairKeys();
// Fails the calling test for each listed key that `checked` lacks: a listed file absent from the
// folder, or one the test passed over.
void ExpectEveryListedChecked(const std::set<std::string>& listed, const std::set<std::string>& checked);

}  // namespace kestrane::test

#define KESTRANE_REQUIRE_CORPUS()                                             \
    do {                                                                      \
        if (!::kestrane::test::CorpusRoot()) GTEST_SKIP() << "no corpus folder"; \
    } while (0)
