// Every page of every user table of the corpus data files decoded twice, through the column plan and
// through the general decoder alone: the cells agree on real files.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "datafile/CorpusFixture.h"
#include "datafile/DataPage.h"
#include "datafile/FixedVarRowPlan.h"
#include "datafile/RowValueDecoder.h"
#include "support/Corpus.h"

namespace kestrane {
namespace {

// The layout and one more column, added after every row and placed inside the record head, which the
// plan does not take: its rows then go through the general decoder, which gives the added column NULL.
TableLayout WithoutPlan(const TableLayout& layout) {
    TableLayout general = layout;
    ColumnDef late(L"late", L"int(4)", kTypeInt);
    late.nullable = 1;
    late.inLayout = 1;
    late.leafOffset = 2;
    late.nullBitmapIndex = 30000;
    general.columns.push_back(late);
    return general;
}

TEST(CorpusFixedVarRowPlan, PlanAndGeneralDecoderGiveTheSameCells) {
    KESTRANE_REQUIRE_CORPUS();
    long long rows = 0, plannedTableRows = 0, taken = 0, cells = 0;
    for (const test::ListedDataFile& file : test::CorpusListedDataFiles()) {
        SCOPED_TRACE(file.key);
        test::OpenedDataFile opened(file.path);
        CMetadataCatalog* catalog = opened.catalog;
        ASSERT_NE(catalog, nullptr);
        for (const test::TableFacts& facts : file.tables) {
            SCOPED_TRACE(WideToUtf8(facts.name));
            TableLayout layout;
            layout.columns = catalog->BuildObjectLists(facts.name, L"U ", {});
            if (catalog->currentRowsetColumns.empty()) continue;  // the plain decoder has no plan
            TableLayout general = WithoutPlan(layout);
            ASSERT_FALSE(FixedVarRowPlan(general.columns).usable());
            const FixedVarRowPlan plan(layout.columns);
            const bool planned = plan.usable();
            for (const PageAddress& address : catalog->tablePages) {
                std::unique_ptr<CDataPage> a = opened.holder.DataFile()->LoadDataPage(address);
                std::unique_ptr<CDataPage> b = opened.holder.DataFile()->LoadDataPage(address);
                if (!a || !b) continue;
                const std::vector<RowValues>& byPlan = DecodeRowValuesByRowsetColumns(*a, layout);
                const std::vector<RowValues>& byGeneral = DecodeRowValuesByRowsetColumns(*b, general);
                ASSERT_EQ(byPlan.size(), byGeneral.size());
                for (size_t r = 0; r < byPlan.size(); ++r) {
                    ASSERT_EQ(byPlan[r].size() + 1, byGeneral[r].size());
                    for (size_t c = 0; c < byPlan[r].size(); ++c) {
                        const Cell x = byPlan[r][c], y = byGeneral[r][c];
                        EXPECT_EQ(x.state, y.state) << "row " << r << " column " << c;
                        EXPECT_EQ(x.typeCode, y.typeCode) << "row " << r << " column " << c;
                        EXPECT_EQ(x.flags, y.flags) << "row " << r << " column " << c;
                        EXPECT_EQ(x.bytes.toVector(), y.bytes.toVector()) << "row " << r << " column " << c;
                        ++cells;
                    }
                }
                rows += static_cast<long long>(byPlan.size());
                if (!planned) continue;
                plannedTableRows += static_cast<long long>(byPlan.size());
                // How many of them the plan took itself, on a third load of the page.
                std::unique_ptr<CDataPage> c = opened.holder.DataFile()->LoadDataPage(address);
                for (size_t slot = 0; c && slot < c->RecordCount(); ++slot) {
                    CPrimaryRecord* record = c->PrimaryRecordAt(slot);
                    if (!record || record->invalid || record->recordType == 3 || record->ghost) continue;
                    RowValues row(layout.columns.size(), 1252);
                    taken += plan.Decode(*record, row);
                }
            }
        }
    }
    std::printf("rows compared: %lld (%lld in tables the plan takes, %lld taken by it), cells: %lld\n", rows,
                plannedTableRows, taken, cells);
}

}  // namespace
}  // namespace kestrane
