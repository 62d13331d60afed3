// The catalogue load over small synthetic data files: a usable one, and damaged ones.
#include <gtest/gtest.h>

#include <cstring>

#include "datafile/CorpusFixture.h"
#include "datafile/DataFileFixture.h"
#include "datafile/DataPage.h"
#include "datafile/RecordFixtures.h"

namespace kestrane {
namespace {

using test::Bytes;
using test::ColumnFixed;
using test::FixedVarRow;
using test::ObjectFixed;
using test::PageBuilder;
using test::PutU16;
using test::PutU32;
using test::PutU64;

constexpr uint64_t kRowsetT = 72057594038321152ull;
constexpr uint64_t kUnitT = (uint64_t{1} << 56) | (uint64_t{500} << 16);

// Pages 0..15: header page, filler, boot page 9, then the system tables and one data page of "T".
std::vector<Bytes> CataloguePages(bool withObjects) {
    std::vector<Bytes> pages;
    for (uint32_t i = 0; i < 10; ++i) pages.push_back(PageBuilder(i == 0 ? 15 : 0, i, 0).image);
    pages[9].assign(kPageSize, 0);  // a boot page of zeros

    PageBuilder objects(1, 10, 34);
    if (withObjects) {
        objects.AddRow(FixedVarRow(ObjectFixed(500, "U ", 0), 3, {WideToUtf16Le(L"T")}));
        objects.AddRow(FixedVarRow(ObjectFixed(501, "PK", 500), 3, {}, 0x10));  // no name column
        objects.AddRow(FixedVarRow(ObjectFixed(-7, "S ", 0), 3, {WideToUtf16Le(L"sys")}));
    }
    pages.push_back(objects.image);

    PageBuilder units(1, 11, 7);
    Bytes unit(41, 0);
    PutU64(unit, 0, kUnitT);
    unit[8] = 1;
    PutU64(unit, 9, kRowsetT);
    PutU32(unit, 23, 15);
    PutU16(unit, 27, 1);
    units.AddRow(FixedVarRow(unit, 12, {}, 0x10));
    units.AddRow(FixedVarRow(Bytes(30, 0), 12, {}, 0x10));  // short: kept with defaults
    Bytes other(41, 0);  // a unit of another table whose pages carry the same header object id
    PutU64(other, 0, uint64_t{500} << 16);
    other[8] = 1;
    PutU64(other, 9, uint64_t{500} << 16);
    PutU32(other, 23, 16);
    PutU16(other, 27, 1);
    units.AddRow(FixedVarRow(other, 12, {}, 0x10));
    pages.push_back(units.image);

    PageBuilder columns(1, 12, 41);
    columns.AddRow(FixedVarRow(ColumnFixed(500, 1, 56, 4), 20, {WideToUtf16Le(L"a")}));
    columns.AddRow(FixedVarRow(ColumnFixed(500, 2, 231, 20), 20, {}, 0x10));  // unnamed
    columns.AddRow(FixedVarRow(Bytes(12, 0xFF), 20, {}, 0x10));              // short
    pages.push_back(columns.image);

    PageBuilder types(1, 13, 50);
    for (auto [id, name] : {std::pair<uint8_t, const wchar_t*>{56, L"int"}, {231, L"nvarchar"}}) {
        Bytes t(38, 0);
        PutU32(t, 0, id);
        PutU32(t, 4, 4);
        t[8] = id;
        types.AddRow(FixedVarRow(t, 12, {WideToUtf16Le(name)}));
    }
    pages.push_back(types.image);

    PageBuilder rowsets(1, 14, 5);
    Bytes rowset(35, 0);
    PutU64(rowset, 0, kRowsetT);
    PutU32(rowset, 9, 500);
    PutU32(rowset, 13, 1);
    rowsets.AddRow(FixedVarRow(rowset, 10, {}, 0x10));
    pages.push_back(rowsets.image);

    // Page 15 belongs to T's unit (index id 256 and object id 500 give its id); page 16 carries the
    // same object id for another unit and must not be taken for T's.
    for (uint16_t indexId : {uint16_t{256}, uint16_t{0}}) {
        PageBuilder data(1, static_cast<uint32_t>(pages.size()), 500);
        PutU16(data.image, kHdrIndexId, indexId);
        for (int32_t value : {7, 8}) {
            Bytes fixed(4, 0);
            PutU32(fixed, 0, static_cast<uint32_t>(value));
            data.AddRow(FixedVarRow(fixed, 2, {WideToUtf16Le(L"xy")}));
        }
        pages.push_back(data.image);
    }
    return pages;
}

std::filesystem::path WriteFile(const test::TempFolder& dir, const std::string& name, const std::vector<Bytes>& pages) {
    Bytes file;
    for (const Bytes& page : pages) file.insert(file.end(), page.begin(), page.end());
    dir.Write(name, file);
    return dir.path(name);
}

TEST(CatalogFile, LoadsTablesColumnsAndPagesFromSystemTables) {
    test::TempFolder dir;
    test::OpenedDataFile opened(WriteFile(dir, "t.mdf", CataloguePages(true)));
    CMetadataCatalog* catalog = opened.catalog;
    ASSERT_NE(catalog, nullptr);
    EXPECT_EQ(opened.state.legacyCatalog, 0);
    ASSERT_EQ(catalog->objects.size(), 2u);  // the negative id is not kept
    EXPECT_EQ(catalog->objects[1].name, L"Repairname0");
    EXPECT_EQ(catalog->allocationUnits.size(), 3u);
    EXPECT_EQ(catalog->allocationUnits[1].type, 0xFF);
    ASSERT_EQ(catalog->columns.size(), 3u);
    EXPECT_EQ(catalog->columns[1].name, L"RepairColumn0");
    EXPECT_EQ(catalog->columns[2].name, L"");

    const ColumnDefList columns = catalog->BuildObjectLists(L"T", L"U ", {});
    ASSERT_EQ(columns.size(), 2u);
    EXPECT_EQ(columns[0].typeText, L"int(4)");
    EXPECT_EQ(columns[1].typeText, L"nvarchar(20)");
    EXPECT_EQ(columns[1].name, L"RepairColumn0");
    ASSERT_EQ(catalog->tablePages.size(), 1u);
    EXPECT_EQ(catalog->tablePages[0], PageAddress(1, 15));
    EXPECT_EQ(catalog->currentAllocationUnit.firstPageId, 15u);
    auto page = opened.holder.DataFile()->LoadDataPage(catalog->tablePages[0]);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->RecordCount(), 2u);

    // A table without units takes the pages of its object id, each once: pages 1:11 and 11:1 are two.
    ObjectRecord loose;
    loose.id = 900;
    loose.name = L"Loose";
    loose.type = L"U ";
    catalog->objects.push_back(loose);
    opened.holder.DataFile()->DataPages()[900] = {test::Ref(1, 11, 1), test::Ref(11, 1, 1), test::Ref(1, 11, 1)};
    catalog->BuildObjectLists(L"Loose", L"U ", {});
    EXPECT_EQ(catalog->tablePages, (std::vector<PageAddress>{{1, 11}, {11, 1}}));
}

TEST(CatalogFile, DamagedCataloguesGiveEmptyListsNotCrashes) {
    test::TempFolder dir;
    {
        // An object table without records and a boot page of zeros: the legacy path runs, finds
        // nothing, and the catalogue holds no objects.
        test::OpenedDataFile opened(WriteFile(dir, "empty.mdf", CataloguePages(false)));
        CMetadataCatalog* catalog = opened.catalog;
        ASSERT_NE(catalog, nullptr);
        EXPECT_EQ(opened.state.legacyCatalog, 1);
        EXPECT_TRUE(catalog->objects.empty());
        EXPECT_TRUE(catalog->columns.empty());
        EXPECT_TRUE(catalog->BuildObjectLists(L"T", L"U ", {}).empty());
    }
    {
        // System pages whose slots point at garbage.
        std::vector<Bytes> pages = CataloguePages(true);
        for (size_t p = 10; p < pages.size(); ++p)
            for (size_t i = 96; i < kPageSize - 40; ++i) pages[p][i] = static_cast<uint8_t>(i * 37 + p);
        test::OpenedDataFile opened(WriteFile(dir, "garbage.mdf", pages));
        CMetadataCatalog* catalog = opened.catalog;
        ASSERT_NE(catalog, nullptr);
        for (const ObjectRecord& object : catalog->objects)
            if (object.type == L"U ") catalog->BuildObjectLists(object.name, L"U ", {});
        catalog->ResetCatalogue();
        EXPECT_TRUE(catalog->objects.empty());
    }
}

}  // namespace
}  // namespace kestrane
