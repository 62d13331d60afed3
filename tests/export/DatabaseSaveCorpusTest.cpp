// The database save over the corpus sets whose data file has a matching log (SOURCES.md's summary),
// through the real driver into the test endpoint: the statements of every table in their order, and
// the parameters of every inserted row compared, column by column, with the rebuilt row's grid texts;
// then the kind and date filters.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "ExportFixtures.h"
#include "datafile/CellText.h"
#include "export/ConstraintStatements.h"
#include "export/DatabaseSaveRun.h"
#include "export/ObjectDefinitionText.h"
#include "export/RowParameters.h"
#include "export/SavedRowImages.h"
#include "sqltext/CreateTableText.h"
#include "sqltext/SqlNames.h"
#include "support/TdsEndpoint.h"

namespace kestrane {
namespace {

using nlohmann::json;
using namespace test;

// The fraction digits of `sent` past those of `shown` are all zeros; the date and the time are parted by
// the ISO "T" that the save sends.
bool SameInstant(const std::string& shown, std::string sent) {
    if (sent.size() > 10) {
        if (sent[10] != 'T') return false;
        sent[10] = ' ';
    }
    if (sent.compare(0, shown.size(), shown) != 0) return false;
    for (size_t i = shown.size(); i < sent.size(); ++i)
        if (sent[i] != '0' && !(i == shown.size() && sent[i] == '.')) return false;
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


// What the run must send for a set: per ticked table its statements (CREATE TABLE, keys and
// constraints, indexes, IDENTITY_INSERT, one INSERT per kept row) and the rows, then the foreign keys.
struct Expected {
    std::vector<std::wstring> statements;  // an INSERT stands as "INSERT INTO [T] ("
    std::vector<std::pair<ColumnDefList, RowValues>> rows;
};

Expected ExpectedSave(ScannedSet& set, const std::vector<TickedTable>& tables, const SaveFilter& filter,
                      bool constraints) {
    Expected out;
    CMetadataCatalog& catalog = *set.holder.Catalog();
    const auto& definitions = catalog.ObjectDefinitions();
    OperationRebuilder rebuilder(set.holder, catalog, set.state, *set.log);
    rebuilder.UseListing(set.store);
    std::set<uint32_t> created;
    for (const TickedTable& table : tables) {
        const auto entries = set.store.EntriesOfTable(table.objectId);
        if (entries.empty()) continue;
        const std::wstring name = set.store.TableName(set.store[entries[0]]);
        const ColumnDefList columns = catalog.BuildObjectLists(name, L"U ", definitions);
        out.statements.push_back(BuildCreateTableSql(columns, name, set.state));
        const bool identity = set.state.identityColumnSeen == 1;
        created.insert(static_cast<uint32_t>(catalog.currentObject.id));
        if (constraints) {
            for (auto& s : TableConstraintStatements(catalog, name, columns, [&](int32_t id) {
                     return GetObjectDefinitionText(definitions, std::to_wstring(id), set.state.codePage);
                 }, set.state))
                out.statements.push_back(s);
            for (auto& s : TableIndexStatements(catalog, name, columns, set.state)) out.statements.push_back(s);
        }
        if (identity) out.statements.push_back(L"SET IDENTITY_INSERT [" + EscapeBracketedName(name) + L"] ON");
        for (uint32_t index : entries) {
            const OperationEntry& e = set.store[index];
            if (!filter.KeepsKind(e.operation) || !filter.KeepsDate(OperationBeginDate(e.beginTime))) continue;
            TableLayout layout{columns, {}, {}};
            for (RowValues& row : SavedRowImages(rebuilder.Rebuild(e.blockOffset, set.store.AllocationUnitId(e), layout,
                                                                   e.slotIndex))) {
                out.rows.emplace_back(columns, std::move(row));
                out.statements.push_back(L"INSERT INTO [" + EscapeBracketedName(name) + L"] (");
            }
        }
    }
    if (constraints)
        for (auto& s : CatalogForeignKeyStatements(catalog, definitions,
                                                   [&](const ForeignKeyDef& k) {
                                                       return created.count(k.tableId) != 0 &&
                                                              created.count(k.referencedTableId) != 0;
                                                   }))
            if (!s.empty()) out.statements.push_back(s);
    return out;
}

struct Saved {
    RecordingSaveView view;
    ScriptedPrompter prompter;
    RecordingProgressSink owner;
    DatabaseSaveResult result;
    std::vector<json> runs;  // every statement run, in order
};

Saved SaveToEndpoint(ScannedSet& set, const std::vector<TickedTable>& tables, const SaveFilter& filter,
                     bool constraints, const json& rules = json::array()) {
    Saved out;
    TdsEndpoint endpoint(rules);
    EXPECT_TRUE(endpoint.running());
    DatabaseSaveOptions options{filter, {L"Saved", L"sa", L"pw", endpoint.server(), L"FreeTDS"}, constraints, false};
    out.result = DatabaseSaveRun(set.state, set.holder, set.store, *set.log, out.view, out.prompter, out.owner)
                     .Run(tables, options);
    out.runs = endpoint.Events("execute");
    return out;
}

TEST(DatabaseSaveCorpus, EveryTableGetsItsStatementsAndEveryRowItsValues) {
    KESTRANE_REQUIRE_CORPUS();
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    Tally all;
    int sets = 0;
    std::set<std::string> checked;  // every pair that SOURCES.md lists, rows or none
    for (const auto& [corpusSet, logName] : SetsWithMatchingLog()) {
        ScannedSet set;
        const bool withRows = set.Open(corpusSet, logName);
        if (set.holder.Catalog()) checked.insert(corpusSet.name + "/" + corpusSet.dataFiles.front().filename().string());
        if (!withRows) continue;
        SCOPED_TRACE(set.name);
        ++sets;
        const SaveFilter everything{true, true, true, {}};
        const bool constraints = sets % 2 == 0;  // every other set with its keys, constraints and indexes
        const Expected expected = ExpectedSave(set, set.TickAll(), everything, constraints);
        const Saved saved = SaveToEndpoint(set, set.TickAll(), everything, constraints);
        ASSERT_FALSE(saved.runs.empty());
        EXPECT_EQ(saved.runs[0]["text"], "create database [Saved]");
        std::vector<std::wstring> statements;
        std::vector<json> inserts;
        for (size_t i = 1; i < saved.runs.size(); ++i) {
            std::wstring text = Utf8ToWide(saved.runs[i]["text"].get<std::string>());
            if (text.rfind(L"INSERT INTO [", 0) == 0) {
                inserts.push_back(saved.runs[i]);
                text = text.substr(0, text.find(L"] (") + 3);
            }
            statements.push_back(text);
        }
        EXPECT_EQ(statements, expected.statements);
        ASSERT_EQ(inserts.size(), expected.rows.size());
        EXPECT_EQ(saved.result.rowsAdded, expected.rows.size());
        EXPECT_TRUE(saved.owner.calls.empty());
        EXPECT_EQ(saved.prompter.messages.size(), 1u);
        EXPECT_TRUE(saved.view.finished);
        if (set.name.rfind("hospital", 0) == 0) {  // one table's statements, for the record
            // The first table that gets more than CREATE TABLE and rows, INSERT runs counted.
            std::vector<std::vector<std::string>> groups;
            for (size_t i = 1; i < saved.runs.size(); ++i) {
                const std::string text = saved.runs[i]["text"];
                if (text.rfind("Create TABLE", 0) == 0) groups.emplace_back();
                if (!groups.empty()) groups.back().push_back(text);
            }
            for (const auto& group : groups) {
                size_t rows = 0;
                for (const auto& text : group) rows += text.rfind("INSERT", 0) == 0;
                if (group.size() == rows + 1) continue;
                std::printf("%s (constraints %s), table statements:\n", set.name.c_str(), constraints ? "on" : "off");
                size_t shown = 0;
                for (const auto& text : group)
                    if (text.rfind("INSERT", 0) != 0 || shown++ == 0) std::printf("  %s\n", text.c_str());
                std::printf("  (%zu INSERT runs in all)\n", rows);
                break;
            }
        }

        Tally t;
        for (size_t r = 0; r < expected.rows.size(); ++r) {
            const auto& [columns, row] = expected.rows[r];
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
                    "%lld dates, %lld money, %lld decimal), %lld differ, %lld left to the default, %lld unreadable "
                    "(stand-in), %lld cut to their column\n",
                    set.name.c_str(), t.rows, t.values - t.differing, t.nulls, t.binary, t.unicode, t.dates, t.money,
                    t.decimals, t.differing, t.defaulted, t.unreadable, t.cut);
        all.rows += t.rows;
        all.values += t.values;
        all.differing += t.differing;
    }
    ExpectEveryListedChecked(CorpusListedPairKeys(), checked);
    std::printf("all sets: %lld rows, %lld values compared, %lld differ\n", all.rows, all.values, all.differing);
}

TEST(DatabaseSaveCorpus, KindAndDateFiltersChooseTheRows) {
    KESTRANE_REQUIRE_CORPUS();
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    for (const auto& [corpusSet, logName] : SetsWithMatchingLog()) {
        ScannedSet set;
        if (!set.Open(corpusSet, logName)) continue;
        SCOPED_TRACE(set.name);
        // The time of the middle insert: a range that ends there takes it, one that ends a second before
        // does not (operation times are whole seconds).
        size_t middle = set.store.Size() / 2;
        while (middle + 1 < set.store.Size() && set.store[middle].operation != 2) ++middle;
        const COleDateTime at = OperationBeginDate(set.store[middle].beginTime);
        const COleDateTime before(at.days() - 1.0 / 86400);
        COleDateTime start;
        start.SetDateTime(1900, 1, 1, 0, 0, 0);
        const std::vector<SaveFilter> filters = {
            {false, false, true, {}},
            {true, false, false, {}},
            {true, true, true, {{start, at}}},
            {true, true, true, {{start, before}}},
            {true, true, true, {{at, at}}},
        };
        std::vector<size_t> counts;
        for (const SaveFilter& filter : filters) {
            const Expected expected = ExpectedSave(set, set.TickAll(), filter, false);
            const Saved saved = SaveToEndpoint(set, set.TickAll(), filter, false);
            size_t inserts = 0;
            for (const json& run : saved.runs) inserts += run["text"].get<std::string>().rfind("INSERT", 0) == 0;
            EXPECT_EQ(inserts, expected.rows.size());
            counts.push_back(inserts);
        }
        EXPECT_EQ(counts[2] - counts[3], counts[4]);  // both ends of a range are in it
        if (set.store[middle].operation == 2) {
            EXPECT_GT(counts[4], 0u);
        }
        std::printf("%s: UPDATE only %zu rows, INSERT only %zu, up to the edge %zu, a second before %zu, at it %zu\n",
                    set.name.c_str(), counts[0], counts[1], counts[2], counts[3], counts[4]);
    }
}

}  // namespace
}  // namespace kestrane
