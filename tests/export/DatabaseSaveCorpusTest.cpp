// The database save over the corpus sets whose data file has a matching log (SOURCES.md's summary):
// every logged row of every table is replayed through the real driver into the test endpoint, and the
// parameters the endpoint decoded are compared, column by column, with the rebuilt row's grid texts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "datafile/CellText.h"
#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "export/OperationRowReplay.h"
#include "export/RowParameters.h"
#include "export/SavedRowImages.h"
#include "logreader/LogScanner.h"
#include "logreader/UserTableMap.h"
#include "platform/TextCodec.h"
#include "support/Corpus.h"
#include "support/RecordingSinks.h"
#include "support/TdsEndpoint.h"

namespace kestrane {
namespace {

using nlohmann::json;

// A corpus data file opened with its matching log, scanned.
struct CorpusDatabase {
    std::string name;
    RunState state{""};
    NullProgressSink progress;
    CDbFileHolder holder{state, progress};
    OperationStore store;
    BinaryFile logFile;
    std::unique_ptr<FileLogSource> log;
};

std::vector<std::unique_ptr<CorpusDatabase>> MatchingDatabases() {
    std::vector<std::unique_ptr<CorpusDatabase>> out;
    const auto summary = test::CorpusSummary();
    for (const test::CorpusSet& set : test::CorpusSets()) {
        for (const auto& facts : summary) {
            if (facts.set != set.name || facts.matchingLog.empty()) continue;
            auto db = std::make_unique<CorpusDatabase>();
            db->name = set.name;
            if (!db->holder.Open(Utf8ToWide((set.folder / facts.dataFile).string())) || !db->holder.Catalog()) continue;
            UserTableMap tables;
            BuildUserTableMap(*db->holder.Catalog(), tables);
            test::ScriptedPrompter prompter;
            ScanLdfFile(db->logFile, (set.folder / facts.matchingLog).string(), tables, db->store, prompter);
            if (db->store.Empty()) continue;
            db->log = std::make_unique<FileLogSource>(db->logFile);
            out.push_back(std::move(db));
        }
    }
    return out;
}

// The fraction digits of `longer` past those of `shorter` are all zeros (the driver sends datetime2(7)).
bool SameInstant(const std::string& shorter, const std::string& longer) {
    if (longer.compare(0, shorter.size(), shorter) != 0) return false;
    for (size_t i = shorter.size(); i < longer.size(); ++i)
        if (longer[i] != '0' && !(i == shorter.size() && longer[i] == '.')) return false;
    return true;
}

struct Tally {
    long long rows = 0, values = 0, differing = 0, nulls = 0, binary = 0, unicode = 0, dates = 0, money = 0,
              decimals = 0, defaulted = 0, unreadable = 0, cut = 0;
};

// Does the decoded parameter hold the cell's value? The grid text is the independent reading. A value
// that does not read as its type (the grid shows nothing) gets the column's stand-in; a text longer than
// its column is cut to it.
bool ParameterHolds(const ColumnDef& column, const Cell& cell, const json& param, Tally& t) {
    if (cell.IsNull()) return param["value"].is_null();
    std::wstring display = CellDisplayText(cell);
    if (display.empty() && cell.typeCode != kTypeSqlVariant && !cell.WideText()) {
        ++t.unreadable;
        return true;
    }
    if (cell.typeCode == kTypeVarChar || cell.typeCode == kTypeNVarChar) {
        const size_t n = ParenthesisedNumber(column.typeText) / (cell.typeCode == kTypeNVarChar ? 2 : 1);
        if (column.typeText.find(L"(-1)") == std::wstring::npos && display.size() > n) {
            ++t.cut;
            display.resize(n);
        }
    }
    const std::string text = WideToUtf8(display);
    const json& v = param["value"];
    switch (cell.typeCode) {
        case kTypeBit: return v.is_boolean() && (v.get<bool>() ? "True" : "False") == text;
        case kTypeBigInt: case kTypeInt: case kTypeSmallInt: case kTypeTinyInt:
            return v.is_number_integer() && std::to_string(v.get<int64_t>()) == text;
        case kTypeFloat: case kTypeReal: {
            double stored = 0;
            if (cell.typeCode == kTypeReal) {
                float f = 0;
                std::memcpy(&f, cell.bytes.data(), std::min<size_t>(4, cell.bytes.size()));
                stored = f;
            } else {
                std::memcpy(&stored, cell.bytes.data(), std::min<size_t>(8, cell.bytes.size()));
            }
            return v.is_number() && v.get<double>() == stored;
        }
        case kTypeDateTime: case kTypeSmallDateTime: case kTypeDateTime2:
            return v.is_string() && SameInstant(text, v.get<std::string>());
        case kTypeBinary: case kTypeVarBinary: case kTypeImage: case kTypeHierarchyId: case kTypeGeometry:
        case kTypeGeography:
            return v.is_string() && "0x" + v.get<std::string>() == text;
        case kTypeSqlVariant:
            return !v.is_null();
        default:  // texts, decimals and money, date, time, datetimeoffset, GUID, timestamp (as 0x text)
            return v.is_string() && v.get<std::string>() == text;
    }
}

void Count(Tally& t, const Cell& cell) {
    ++t.values;
    if (cell.IsNull()) ++t.nulls;
    else if (cell.typeCode == kTypeBinary || cell.typeCode == kTypeVarBinary || cell.typeCode == kTypeImage) ++t.binary;
    else if (cell.typeCode == kTypeNVarChar || cell.typeCode == kTypeNChar || cell.typeCode == kTypeNText) ++t.unicode;
    else if (cell.typeCode == kTypeDateTime || cell.typeCode == kTypeSmallDateTime || cell.typeCode == kTypeDateTime2 ||
             cell.typeCode == kTypeDate)
        ++t.dates;
    else if (cell.typeCode == kTypeMoney || cell.typeCode == kTypeSmallMoney) ++t.money;
    else if (cell.typeCode == kTypeDecimal || cell.typeCode == kTypeNumeric) ++t.decimals;
}

// The values of an INSERT run, matched to the exported columns: DEFAULT in the values list takes no
// parameter.
std::vector<std::optional<json>> ValuesByColumn(const json& run) {
    const std::string text = run["text"];
    std::vector<std::optional<json>> out;
    const size_t open = text.rfind(" VALUES (");
    if (open == std::string::npos) return out;
    size_t p = 0;
    std::string list = text.substr(open + 9);
    for (size_t at = 0; at < list.size();) {
        const size_t end = list.find_first_of(",)", at);
        const std::string marker = list.substr(at, end - at);
        if (marker == "DEFAULT") out.push_back(std::nullopt);
        else out.push_back(p < run["params"].size() ? std::optional<json>(run["params"][p++]) : std::nullopt);
        at = end + 1;
    }
    return out;
}

TEST(DatabaseSaveCorpus, EveryReplayedRowReachesTheServerAsRebuilt) {
    KESTRANE_REQUIRE_CORPUS();
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    const auto databases = MatchingDatabases();
    EXPECT_GE(databases.size(), 8u);
    Tally all;
    for (const auto& db : databases) {
        SCOPED_TRACE(db->name);
        test::TdsEndpoint endpoint;
        ASSERT_TRUE(endpoint.running());
        CMetadataCatalog& catalog = *db->holder.Catalog();
        CSqlExportSession session(db->state, db->progress);
        const SqlConnectionFields login{L"Saved", L"sa", L"pw", endpoint.server(), L"FreeTDS"};
        OperationRowReplay replay(db->holder, catalog, db->state, *db->log);
        OperationRebuilder rebuilder(db->holder, catalog, db->state, *db->log);
        std::vector<std::pair<ColumnDefList, RowValues>> expected;
        for (const auto& [objectId, table] : db->store.Tables()) {
            const ColumnDefList columns = catalog.BuildObjectLists(table, L"U ", {});
            ASSERT_TRUE(session.OpenTableForInsert(table, BuildFieldList(columns), login));
            for (uint32_t index : db->store.EntriesOfTable(objectId)) {
                const OperationEntry& e = db->store[index];
                TableLayout layout{columns, {}, {}};
                replay.ReplayOperationRow(e.blockOffset, db->store.AllocationUnitId(e), layout, e.slotIndex, session);
                TableLayout again{columns, {}, {}};
                for (RowValues& row :
                     SavedRowImages(rebuilder.Rebuild(e.blockOffset, db->store.AllocationUnitId(e), again, e.slotIndex)))
                    expected.emplace_back(columns, std::move(row));
            }
            session.CloseConnection();
        }
        EXPECT_FALSE(replay.TakeFailure().has_value());
        std::vector<json> inserts;
        for (const json& run : endpoint.Events("execute"))
            if (run["text"].get<std::string>().rfind("INSERT", 0) == 0) inserts.push_back(run);
        ASSERT_EQ(inserts.size(), expected.size());
        EXPECT_EQ(replay.addedRows(), expected.size());
        Tally t;
        for (size_t r = 0; r < expected.size(); ++r) {
            const auto& [columns, row] = expected[r];
            const auto values = ValuesByColumn(inserts[r]);
            size_t k = 0;
            ++t.rows;
            for (size_t c = 0; c < columns.size(); ++c) {
                if (columns[c].ordinal == kOrdinalNotStored) continue;
                ASSERT_LT(k, values.size());
                const auto& value = values[k++];
                const Cell cell = row[c];
                if (!cell.IsValue() && !cell.IsNull()) {
                    t.defaulted += !value.has_value();
                    continue;
                }
                Count(t, cell);
                const bool same = value && ParameterHolds(columns[c], cell, *value, t);
                t.differing += !same;
                EXPECT_TRUE(same) << WideToUtf8(columns[c].name) << " row " << r << ": "
                                  << WideToUtf8(CellDisplayText(cell)) << " sent " << (value ? value->dump() : "DEFAULT");
            }
        }
        std::printf("%s: %lld rows, %lld values equal to the rebuilt row (%lld NULL, %lld binary, %lld unicode, "
                    "%lld dates, %lld money, %lld decimal), %lld differ, %lld left to the default, %lld unreadable (stand-in), "
                    "%lld cut to their column\n",
                    db->name.c_str(), t.rows, t.values - t.differing, t.nulls, t.binary, t.unicode, t.dates, t.money,
                    t.decimals, t.differing, t.defaulted, t.unreadable, t.cut);
        all.rows += t.rows;
        all.values += t.values;
        all.differing += t.differing;
    }
    std::printf("all sets: %lld rows, %lld values compared, %lld differ\n", all.rows, all.values, all.differing);
    EXPECT_GT(all.rows, 0);
}

}  // namespace
}  // namespace kestrane
