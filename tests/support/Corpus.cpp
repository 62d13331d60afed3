#include "support/Corpus.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/TextCodec.h"

namespace fs = std::filesystem;

namespace kestrane::test {

namespace {
std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}
std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}
std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::string cur;
    for (size_t i = 1; i < line.size(); ++i) {
        if (line[i] == '|') { cells.push_back(Trim(cur)); cur.clear(); }
        else cur.push_back(line[i]);
    }
    return cells;
}
std::string Unquote(const std::string& s) {
    size_t a = s.find('`'), b = s.rfind('`');
    return (a != std::string::npos && b > a) ? s.substr(a + 1, b - a - 1) : s;
}
}  // namespace

std::optional<fs::path> CorpusRoot() {
    fs::path root;
    if (const char* env = std::getenv("KESTRANE_CORPUS"); env && *env) root = env;
    else root = fs::path(KESTRANE_SOURCE_DIR) / ".." / "shared" / "corpus";
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return std::nullopt;
    return fs::canonical(root, ec);
}

std::vector<CorpusSet> CorpusSets() {
    std::vector<CorpusSet> sets;
    auto root = CorpusRoot();
    if (!root) return sets;
    for (const auto& entry : fs::directory_iterator(*root)) {
        if (!entry.is_directory()) continue;
        CorpusSet set;
        set.name = entry.path().filename().string();
        set.folder = entry.path();
        for (const auto& f : fs::directory_iterator(entry.path())) {
            std::string ext = Lower(f.path().extension().string());
            if (ext == ".mdf") set.dataFiles.push_back(f.path());
            else if (ext == ".ndf") set.secondaryFiles.push_back(f.path());
            else if (ext == ".ldf") set.logFiles.push_back(f.path());
        }
        std::sort(set.dataFiles.begin(), set.dataFiles.end());
        std::sort(set.secondaryFiles.begin(), set.secondaryFiles.end());
        std::sort(set.logFiles.begin(), set.logFiles.end());
        sets.push_back(std::move(set));
    }
    std::sort(sets.begin(), sets.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    return sets;
}

std::string CorpusSourcesText() {
    auto root = CorpusRoot();
    if (!root) return "";
    std::ifstream in(*root / "SOURCES.md", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

namespace {
// The cells of the data rows of the table under the "## " heading that holds `heading`.
std::vector<std::vector<std::string>> TableUnder(const std::string& heading, size_t minCells) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(CorpusSourcesText());
    std::string line;
    bool inTable = false;
    while (std::getline(in, line)) {
        if (line.rfind("## ", 0) == 0) inTable = line.find(heading) != std::string::npos;
        if (!inTable || line.empty() || line[0] != '|') continue;
        auto c = Cells(line);
        if (c.size() >= minCells && c[0].rfind("---", 0) != 0) rows.push_back(std::move(c));
    }
    if (!rows.empty()) rows.erase(rows.begin());  // the heading row
    return rows;
}
}  // namespace

std::map<std::string, BootFacts> CorpusBootFacts() {
    std::map<std::string, BootFacts> facts;
    for (const auto& c : TableUnder("boot page and page facts", 6)) {
        BootFacts f;
        f.version = std::atoi(c[1].c_str());
        const size_t open = c[1].find('('), close = c[1].find(')');
        if (open != std::string::npos && close > open) f.release = c[1].substr(open + 1, close - open - 1);
        f.createVersion = std::atoi(c[2].c_str());
        f.databaseName = Utf8ToWide(Unquote(c[3]));
        f.collationId = std::atoll(c[4].c_str());
        f.pages = std::atoll(c[5].c_str());
        facts[c[0]] = f;
    }
    return facts;
}

std::vector<SummaryFacts> CorpusSummary() {
    std::vector<SummaryFacts> rows;
    for (const auto& c : TableUnder("## Summary", 9)) {
        if (c[1] == "(none)") continue;
        SummaryFacts f;
        f.set = c[0];
        f.dataFile = c[1];
        size_t in_ = c[6].find(" in ");
        if (in_ != std::string::npos) f.matchingLog = Trim(c[6].substr(in_ + 4));
        f.userTables = std::atoi(c[7].c_str());
        f.rows = std::atoll(c[8].c_str());
        rows.push_back(f);
    }
    return rows;
}

std::map<std::string, std::vector<TableFacts>> CorpusTableFacts() {
    std::map<std::string, std::vector<TableFacts>> facts;
    std::istringstream in(CorpusSourcesText());
    std::string line, current;
    bool inSchema = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("## ", 0) == 0) {
            inSchema = line.find("## Schema") == 0;
            current.clear();
            continue;
        }
        if (!inSchema) continue;
        if (line.rfind("### ", 0) == 0) {
            current = Trim(line.substr(4));
            facts[current];
            continue;
        }
        if (current.empty() || line.rfind("- `", 0) != 0) continue;
        size_t nameEnd = line.find('`', 3);
        if (nameEnd == std::string::npos) continue;
        TableFacts table;
        table.name = Utf8ToWide(line.substr(3, nameEnd - 3));
        size_t rows = line.find("rows=", nameEnd);
        if (rows != std::string::npos) table.rows = std::atoll(line.c_str() + rows + 5);
        size_t colon = line.find(": ", nameEnd);
        std::string list = colon == std::string::npos ? "" : line.substr(colon + 2);
        // Split on ", " outside parentheses: decimal(4,2) stays whole.
        std::vector<std::string> items;
        std::string cur;
        int depth = 0;
        for (size_t i = 0; i < list.size(); ++i) {
            char c = list[i];
            if (c == '(') ++depth;
            if (c == ')') --depth;
            if (c == ',' && depth == 0) {
                items.push_back(Trim(cur));
                cur.clear();
                continue;
            }
            cur.push_back(c);
        }
        if (!Trim(cur).empty()) items.push_back(Trim(cur));
        for (const std::string& item : items) {
            size_t space = item.rfind(' ');
            if (space == std::string::npos) continue;
            table.columns.emplace_back(Utf8ToWide(item.substr(0, space)), Utf8ToWide(item.substr(space + 1)));
        }
        facts[current].push_back(std::move(table));
    }
    return facts;
}

std::set<std::string> CorpusListedFileKeys(ListedKind kind) {
    std::set<std::string> keys;
    for (const auto& c : TableUnder("## Files", 2)) {
        const std::string ext = Lower(fs::path(c[0]).extension().string());
        const bool data = ext == ".mdf" || ext == ".ndf";
        if ((kind == ListedKind::DataFile && data) || (kind == ListedKind::Log && ext == ".ldf") ||
            (kind == ListedKind::Script && ext == ".sql"))
            keys.insert(c[0]);
    }
    return keys;
}

std::set<std::string> CorpusListedPairKeys() {
    std::set<std::string> keys;
    for (const SummaryFacts& row : CorpusSummary())
        if (!row.matchingLog.empty()) keys.insert(row.set + "/" + row.dataFile);
    return keys;
}

void ExpectEveryListedChecked(const std::set<std::string>& listed, const std::set<std::string>& checked) {
    EXPECT_FALSE(listed.empty()) << "SOURCES.md lists nothing of this kind";
    for (const std::string& key : listed) EXPECT_TRUE(checked.count(key)) << key << " is listed but was not checked";
}

std::vector<ListedDataFile> CorpusListedDataFiles() {
    std::vector<ListedDataFile> files;
    const auto listing = CorpusTableFacts();
    for (const CorpusSet& set : CorpusSets()) {
        for (const auto& path : set.dataFiles) {
            const std::string key = set.name + "/" + path.filename().string();
            auto listed = listing.find(key);
            if (listed != listing.end()) files.push_back({key, path, listed->second});
        }
    }
    return files;
}

}  // namespace kestrane::test
