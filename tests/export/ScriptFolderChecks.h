#pragma once
// Checks of a saved script folder against the log it came from: the rows each table must hold (its
// operations rebuilt here, apart from the run), the rows its scripts hold, and the order in which the
// batch files must run the scripts.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "ExportFixtures.h"
#include "logreader/OperationRebuild.h"
#include "sqltext/ValueLiteral.h"

namespace kestrane::test {

namespace fs = std::filesystem;

inline std::string U(const std::wstring& text) { return WideToUtf8(text); }

// Seconds since 1900 of an entry's begin time, truncated as the operations list shows it.
inline int64_t BeginSeconds(uint64_t beginTime) {
    const int32_t ticks = static_cast<int32_t>(beginTime & 0xFFFFFFFF);
    const int32_t days = static_cast<int32_t>(beginTime >> 32);
    return int64_t{days} * 86400 + static_cast<int64_t>(ticks * 0.00333333335);
}

inline COleDateTime DateOfSeconds(int64_t seconds) {
    int year = 0, month = 0, day = 0;
    CivilFromOleDays(seconds / 86400 + DaysFromOleEpoch(1900, 1, 1), year, month, day);
    const int64_t s = seconds % 86400;
    return COleDateTime(year, month, day, static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
}

struct Filter {
    std::set<uint8_t> kinds;
    int64_t from = INT64_MIN, to = INT64_MAX;  // seconds, both included
};

// The rows (literal lists) the table's script must hold, from the operations rebuilt here.
inline std::vector<std::wstring> ExpectedRows(ScannedSet& set, uint32_t objectId, const Filter& filter) {
    CMetadataCatalog& catalog = *set.holder.Catalog();
    OperationRebuilder rebuilder(set.holder, catalog, set.state, *set.log);
    rebuilder.UseListing(set.store);
    std::vector<std::wstring> rows;
    ColumnDefList columns;
    bool first = true;
    for (uint32_t index : set.store.EntriesOfTable(objectId)) {
        const OperationEntry& e = set.store[index];
        if (first) columns = catalog.BuildObjectLists(set.store.TableName(e), L"U ", catalog.ObjectDefinitions());
        first = false;
        const int64_t when = BeginSeconds(e.beginTime);
        // Time 0: the transaction began before the log and has no time for a range to take.
        const bool ranged = filter.from != INT64_MIN || filter.to != INT64_MAX;
        if (!filter.kinds.count(e.operation) || when < filter.from || when > filter.to || (ranged && e.beginTime == 0))
            continue;
        TableLayout layout{columns, {}, {}};
        RowImages images = rebuilder.Rebuild(e.blockOffset, set.store.AllocationUnitId(e), layout, e.slotIndex);
        std::vector<RowValues> kept;
        if (e.operation == 2 || e.operation == 3) kept = images.images;
        else if (!images.images.empty()) kept.push_back(images.images[images.images.size() >= 2 ? 1 : 0]);
        for (const RowValues& row : kept) {
            std::wstring text;
            for (size_t j = 0; j < row.size() && j < columns.size(); ++j)
                if (columns[j].ordinal != kOrdinalNotStored) text += FormatValueLiteral(columns[j], row[j], set.state);
            while (!text.empty() && text.back() == L',') text.pop_back();
            rows.push_back(text);
        }
    }
    return rows;
}

// The rows the table's script files hold, each large-value file read back into its "0x" literal.
inline std::vector<std::wstring> ScriptRows(const fs::path& folder, const std::wstring& tableText) {
    static const std::wregex blob(L"\\(Select \\* from OPENROWSET\\(BULK N'\\$\\(DIR\\)((?:[^']|'')*)',SINGLE_BLOB\\) as Image\\)");
    std::vector<std::wstring> rows;
    for (size_t at = tableText.find(L" values( "); at != std::wstring::npos; at = tableText.find(L" values( ", at)) {
        at += 9;
        size_t end = std::min({tableText.find(L"\r\n insert into [", at), tableText.find(L"\r\n GO", at),
                               tableText.find(L"\r\nGO", at), tableText.size()});
        std::wstring row = tableText.substr(at, end - at);
        while (!row.empty() && (row.back() == L'\n' || row.back() == L'\r')) row.pop_back();
        if (!row.empty() && row.back() == L')') row.pop_back();
        std::wstring resolved;
        std::wsmatch m;
        while (std::regex_search(row, m, blob)) {
            std::wstring path = m[1].str();
            for (size_t q = path.find(L"''"); q != std::wstring::npos; q = path.find(L"''", q + 1)) path.erase(q, 1);
            std::vector<uint8_t> bytes;
            EXPECT_TRUE(ReadWholeFile((folder / U(path.substr(1))).string(), bytes)) << U(path);
            resolved += m.prefix().str() + L"0x" + HexText(ByteView(bytes));
            row = m.suffix().str();
        }
        rows.push_back(resolved + row);
    }
    return rows;
}

// The scripts of a folder in the order the batch files must run them (true: a database script).
inline std::vector<std::pair<std::string, bool>> ScriptOrder(const fs::path& folder, const std::wstring& databaseScript,
                                                      const std::vector<std::wstring>& tableFolders) {
    std::vector<std::pair<std::string, bool>> order{{U(databaseScript), true}};
    if (fs::exists(folder / "userdefinedatatype.sql")) order.push_back({"userdefinedatatype.sql", true});
    for (const std::wstring& table : tableFolders)
        if (fs::exists(folder / "Tables" / U(table))) order.push_back({"Tables/" + U(table) + "/maintablescript.sql", true});
    auto numbered = [&](std::vector<std::string> folders) {
        std::map<int, std::string> byNumber;
        for (const std::string& sub : folders) {
            if (!fs::exists(folder / sub)) continue;
            for (const auto& file : fs::directory_iterator(folder / sub)) {
                const std::string name = file.path().filename().string();
                byNumber[std::stoi(name.substr(name.find_first_of("0123456789")))] = sub + "/" + name;
            }
        }
        for (const auto& [number, path] : byNumber) order.push_back({path, false});
    };
    numbered({"Functions", "Views", "Storeprocedure", "Triggers"});
    numbered({"altertablecommandforeignkeys"});
    return order;
}

}  // namespace kestrane::test
