// The checks that tell the user what is wrong with a pair, on the real files: every data file of a set
// against every log of it (SOURCES.md names the one that holds its last change), and the first half
// of each data file, as a file cut off would be.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <set>

#include "datafile/PageHeader.h"
#include "platform/BinaryFile.h"
#include "platform/ByteReader.h"
#include "support/Corpus.h"
#include "support/RecordingSinks.h"
#include "ui/AnalysisRun.h"
#include "ui/EngineSession.h"
#include "UiFakes.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;

// Whether a page of `kept` (whole pages from offset 0, lined up), standing at its own place in file 1,
// links (previous or next page) to a page of file 1 past the end of `kept`.
bool LinksPastCut(ByteView kept) {
    const uint64_t pages = kept.size() / kPageSize;
    for (uint64_t i = 0; i < pages; ++i) {
        const ByteView page = kept.sub(static_cast<size_t>(i * kPageSize), kPageSize);
        if (page.getOr<uint32_t>(kHdrThisPageId, 0) != i || page.getOr<uint16_t>(kHdrThisFileId, 0) != 1) continue;
        for (size_t link : {kHdrPrevPage, kHdrNextPage})
            if (page.getOr<uint16_t>(link + 4, 0) == 1 && page.getOr<uint32_t>(link, 0) >= pages) return true;
    }
    return false;
}

TEST(EngineChecksCorpus, ForeignLogsAndCutDataFilesAreNoticed) {
    KESTRANE_REQUIRE_CORPUS();
    const auto summary = test::CorpusSummary();
    const fs::path temp = fs::temp_directory_path() / ("kestrane-cut-" + std::to_string(::getpid()));
    fs::create_directories(temp);
    std::set<std::string> checked;
    int cut = 0;
    for (const test::CorpusSet& set : test::CorpusSets()) {
        for (const fs::path& dataPath : set.dataFiles) {
            SCOPED_TRACE(set.name + "/" + dataPath.filename().string());
            std::string matching;
            for (const auto& row : summary)
                if (row.set == set.name && row.dataFile == dataPath.filename().string()) matching = row.matchingLog;
            RunState state{"/nonexistent/collation.txt"};
            NullProgressSink quiet;
            EngineSession whole(state);
            ASSERT_TRUE(whole.Open(dataPath.wstring(), false, quiet));
            const DataFileFacts data = whole.DataFile();
            EXPECT_LT(data.highestNamedPage, data.pageCount) << "a whole file names no page past its end";
            EXPECT_GT(data.lastChangeVlf, 0u);
            for (const fs::path& logPath : set.logFiles) {
                SCOPED_TRACE(logPath.filename().string());
                state.logFilePath = logPath.wstring();
                const LogFileFacts log = whole.ProbeLogFile();
                ASSERT_TRUE(log.opened);
                EXPECT_EQ(LogMissesLastChange(data, log), logPath.filename().string() != matching);
                if (logPath.filename().string() == matching) checked.insert(set.name + "/" + dataPath.filename().string());
            }

            // The first half alone: the warning is due where a page of the kept half links to a page
            // of the cut half (pages never used may link to none, and then nothing can tell).
            std::vector<uint8_t> bytes;
            ASSERT_TRUE(ReadWholeFile(dataPath.string(), bytes));
            const size_t half = bytes.size() / 2 / 8192 * 8192;
            const bool namesCutPage = LinksPastCut(ByteView(bytes.data(), half));
            const fs::path halfPath = temp / ("half-" + set.name + ".mdf");
            std::ofstream(halfPath, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                            static_cast<std::streamsize>(half));
            EngineSession shortened(state);
            if (!shortened.Open(halfPath.wstring(), false, quiet)) continue;
            const DataFileFacts cutFacts = shortened.DataFile();
            if (namesCutPage) { EXPECT_GE(cutFacts.highestNamedPage, cutFacts.pageCount); }
            cut += namesCutPage;
        }
    }
    test::ExpectEveryListedChecked(test::CorpusListedPairKeys(), checked);
    EXPECT_GT(cut, 0);
    fs::remove_all(temp);
}

// What an analysis shows of a database: version, collation and the code page of its 8-bit text.
struct Shown {
    std::wstring version, collation;
    int32_t codePage = 0;
    bool operator==(const Shown&) const = default;
};

// Runs the analysis of `dataPath` (with the set's first log) on the given shared state, as the main
// dialog does after Back and a new choice of files.
Shown Analyse(RunState& state, const test::CorpusSet& set, const fs::path& dataPath) {
    test::ScriptedPrompter prompter;
    prompter.answers.assign(4, PromptAnswer::Yes);
    test::FakeMainView view;
    test::FakeActions actions;
    DirectDispatcher ui;
    EngineSession engine(state);
    MainDialogLogic logic{state, prompter, view, engine, actions};
    AnalysisRun run{state, engine, view, logic, ui, prompter};
    run.sleep = [](int) {};
    state.dataFilePath = dataPath.wstring();
    state.logFilePath = set.logFiles.empty() ? std::wstring() : set.logFiles.front().wstring();
    run.ScanThreadProc();
    return Shown{view.version, view.collation, state.codePage};
}

TEST(EngineChecksCorpus, NothingOfThePreviousDatabaseCarriesOver) {
    KESTRANE_REQUIRE_CORPUS();
    const std::string collations = std::string(KESTRANE_BINARY_DIR) + "/collation.txt";
    std::vector<std::pair<const test::CorpusSet*, fs::path>> files;
    const std::vector<test::CorpusSet> sets = test::CorpusSets();
    for (const test::CorpusSet& set : sets)
        for (const fs::path& dataPath : set.dataFiles) files.emplace_back(&set, dataPath);
    ASSERT_GT(files.size(), 1u);
    // Each file after every other: the shared state must show what the file alone shows.
    std::vector<Shown> alone;
    for (const auto& [set, path] : files) {
        RunState state{collations};
        alone.push_back(Analyse(state, *set, path));
    }
    // Before each file, one that shows another code page, else another collation, else another version.
    int pairs = 0;
    for (size_t after = 0; after < files.size(); ++after) {
        std::optional<size_t> before;
        for (auto differs : {+[](const Shown& a, const Shown& b) { return a.codePage != b.codePage; },
                             +[](const Shown& a, const Shown& b) { return a.collation != b.collation; },
                             +[](const Shown& a, const Shown& b) { return a.version != b.version; }})
            for (size_t b = 0; b < files.size() && !before; ++b)
                if (differs(alone[b], alone[after])) before = b;
        if (!before) continue;
        SCOPED_TRACE(files[*before].second.filename().string() + " then " + files[after].second.filename().string());
        RunState state{collations};
        Analyse(state, *files[*before].first, files[*before].second);
        const Shown shown = Analyse(state, *files[after].first, files[after].second);
        EXPECT_EQ(shown.version, alone[after].version);
        EXPECT_EQ(shown.collation, alone[after].collation);
        EXPECT_EQ(shown.codePage, alone[after].codePage);
        ++pairs;
    }
    EXPECT_GT(pairs, 0);
}

}  // namespace
}  // namespace kestrane
