// The catalogue of every corpus data file against the schema listing of SOURCES.md.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "datafile/CorpusFixture.h"
#include "datafile/DataPage.h"
#include "support/Corpus.h"

namespace kestrane {
namespace {

using test::Lower;

// System type id of a type name as SOURCES.md spells it.
int SystemTypeOfName(const std::wstring& name) {
    static const std::map<std::wstring, int> ids = {
        {L"bigint", 127}, {L"binary", 173}, {L"bit", 104}, {L"char", 175}, {L"datetime", 61}, {L"date", 40},
        {L"time", 41}, {L"datetime2", 42}, {L"datetimeoffset", 43}, {L"int", 56}, {L"nchar", 239},
        {L"nvarchar", 231}, {L"smallint", 52}, {L"tinyint", 48}, {L"uniqueidentifier", 36}, {L"varbinary", 165},
        {L"varchar", 167}, {L"sysname", 232}, {L"ntext", 99}, {L"sql_variant", 98}, {L"money", 60},
        {L"float", 62}, {L"numeric", 108}, {L"decimal", 106}, {L"image", 34}, {L"text", 35},
        {L"smalldatetime", 58}, {L"real", 59}, {L"smallmoney", 122}, {L"timestamp", 189}, {L"xml", 241}};
    auto it = ids.find(name);
    return it == ids.end() ? -1 : it->second;
}

// Splits "name(arg)" into name and arg ("" without parentheses).
std::pair<std::wstring, std::wstring> SplitType(const std::wstring& text) {
    size_t open = text.find(L'(');
    if (open == std::wstring::npos) return {text, L""};
    size_t close = text.find(L')', open);
    return {text.substr(0, open), text.substr(open + 1, (close == std::wstring::npos ? text.size() : close) - open - 1)};
}

// The listed type against a built column: name, internal code and, for the string and binary types,
// the stored byte length (doubled for the national types, -1 for max).
::testing::AssertionResult TypeMatches(const std::wstring& listed, const ColumnDef& def) {
    auto [listedName, listedArg] = SplitType(Lower(listed));
    auto [builtName, builtArg] = SplitType(Lower(def.typeText));
    if (listedName != builtName) return ::testing::AssertionFailure() << "type name " << WideToUtf8(def.typeText);
    const int systemType = SystemTypeOfName(listedName);
    uint32_t expectedCode = InternalTypeFromSystemType(static_cast<uint32_t>(systemType));
    if (systemType == 34) expectedCode = kTypeImage;
    if (def.typeCode != expectedCode) return ::testing::AssertionFailure() << "code " << def.typeCode;
    const bool national = listedName == L"nchar" || listedName == L"nvarchar";
    const bool sized = national || listedName == L"char" || listedName == L"varchar" || listedName == L"binary" ||
                       listedName == L"varbinary";
    if (sized) {
        const long expected = listedArg == L"max" ? -1 : std::stol(listedArg) * (national ? 2 : 1);
        if (std::stol(builtArg) != expected) return ::testing::AssertionFailure() << "length " << WideToUtf8(builtArg);
    }
    return ::testing::AssertionSuccess();
}

// Primary records on the given pages (ghosts and refused rows left out).
long long CountRows(CMdfFile& file, const std::vector<PageAddress>& pages) {
    long long rows = 0;
    for (const PageAddress& address : pages) {
        std::unique_ptr<CDataPage> page = file.LoadDataPage(address);
        if (!page) continue;
        for (size_t i = 0; i < page->RecordCount(); ++i) {
            const CRecord* record = page->RecordAt(i);
            if (record && !record->invalid && !record->ghost && record->recordType == 0) ++rows;
        }
    }
    return rows;
}

TEST(CorpusCatalog, UserTablesAndColumnsMatchSourcesListing) {
    KESTRANE_REQUIRE_CORPUS();
    const auto boot = test::CorpusBootFacts();
    const auto files = test::CorpusListedDataFiles();
    test::ExpectEveryListedChecked(test::CorpusListedFileKeys(test::ListedKind::DataFile), test::KeysReadWith(files));
    for (const test::ListedDataFile& file : files) {
        const std::string& key = file.key;
        SCOPED_TRACE(key);
        test::OpenedDataFile opened(file.path);
        CMetadataCatalog* catalog = opened.catalog;
        ASSERT_NE(catalog, nullptr);
        EXPECT_EQ(opened.state.legacyCatalog, 0);

        std::set<std::wstring> tables;
        for (const ObjectRecord& object : catalog->objects)
            if (object.type == L"U ") tables.insert(object.name);
        // The ms-shipped trace_xe_* maps of 2012+ files are user tables with negative object ids,
        // which the object scan keeps out like every id below 1.
        auto shippedWithNegativeId = [](const std::wstring& name) { return name.rfind(L"trace_xe_", 0) == 0; };
        std::set<std::wstring> listedTables;
        for (const test::TableFacts& table : file.tables)
            if (!shippedWithNegativeId(table.name)) listedTables.insert(table.name);
        EXPECT_EQ(tables, listedTables);

        const auto bootFacts = boot.find(key);
        const bool upgraded = bootFacts != boot.end() && bootFacts->second.createVersion == 539;
        for (const test::TableFacts& table : file.tables) {
            if (shippedWithNegativeId(table.name)) continue;
            SCOPED_TRACE(WideToUtf8(table.name));
            const ColumnDefList columns = catalog->BuildObjectLists(table.name, L"U ", {});
            EXPECT_EQ(columns.size(), table.columns.size());
            for (size_t i = 0; i < columns.size() && i < table.columns.size(); ++i) {
                EXPECT_EQ(columns[i].name, table.columns[i].first);
                EXPECT_TRUE(TypeMatches(table.columns[i].second, columns[i])) << WideToUtf8(table.columns[i].second);
            }
            // Computed columns are listed but not stored; every table stores some column.
            EXPECT_TRUE(std::any_of(columns.begin(), columns.end(),
                                    [](const ColumnDef& c) { return c.ordinal != kOrdinalNotStored; }));
            EXPECT_EQ(catalog->tableSchema.size(), columns.size());
            const long long rows = CountRows(*opened.holder.DataFile(), catalog->tablePages);
            // Every table's data pages are found; a deallocated page that still carries the
            // table's header ids can only add rows.
            EXPECT_GE(rows, table.rows);
            if (upgraded) { EXPECT_EQ(rows, table.rows); }
        }
    }
}

}  // namespace
}  // namespace kestrane
