#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "datafile/DataPage.h"
#include "datafile/FixedVarRowPlan.h"
#include "datafile/RecordFixtures.h"
#include "datafile/RowValueDecoder.h"
#include "platform/RunState.h"

namespace kestrane {
namespace {

using namespace kestrane::test;

// id int, price money, created datetime, day date, nine bits (the ninth in a byte of its own), a
// computed column, name varchar(20), data varbinary(10) NULL, note nvarchar(10) NULL, code nchar(2).
TableLayout PlannedLayout() {
    TableLayout layout;
    layout.columns = {LayoutColumn(1, L"id", L"int(4)", kTypeInt, 4),
                      LayoutColumn(2, L"price", L"money(8)", kTypeMoney, 8),
                      LayoutColumn(3, L"created", L"datetime(8)", kTypeDateTime, 16),
                      LayoutColumn(4, L"day", L"date(3)", kTypeDate, 24)};
    for (uint32_t b = 0; b < 9; ++b)
        layout.columns.push_back(LayoutColumn(5 + b, L"b", L"bit(1)", kTypeBit, static_cast<int16_t>(b < 8 ? 27 : 28)));
    ColumnDef computed = LayoutColumn(99, L"total", L"int(4)", kTypeInt, 0);
    computed.ordinal = kOrdinalNotStored;
    layout.columns.push_back(computed);
    layout.columns.push_back(LayoutColumn(14, L"name", L"varchar(20)", kTypeVarChar, -1));
    layout.columns.push_back(LayoutColumn(15, L"data", L"varbinary(10)", kTypeVarBinary, -2, 1));
    layout.columns.push_back(LayoutColumn(16, L"note", L"nvarchar(10)", kTypeNVarChar, -3, 1));
    ColumnDef code = LayoutColumn(17, L"code", L"nchar(2)", kTypeNChar, -4);
    code.variable = 1;
    layout.columns.push_back(code);
    return layout;
}

// The layout with one more column that the plan cannot take (a fixed column inside the record head),
// added after every row: the rows then go through the general decoder.
TableLayout UnplannedLayout() {
    TableLayout layout = PlannedLayout();
    ColumnDef late = LayoutColumn(60, L"late", L"int(4)", kTypeInt, 2, 1);
    layout.columns.push_back(late);
    return layout;
}

// A row of the planned layout; `nulls` is the NULL bitmap (bit k: column k + 1).
Bytes PlannedRow(uint32_t id, uint32_t nulls, std::vector<Bytes> variable, uint16_t complexMask = 0,
                 size_t fixedBytes = 25, uint8_t statusA = 0x30) {
    Bytes fixed = Cat(Cat(Cat(Le(id, 4), Le(uint64_t{id} * 125, 8)), Cat(Le(id % 300, 4), Le(40000, 4))), Le(44000 + id, 3));
    fixed.push_back(static_cast<uint8_t>(0xA5 ^ id));
    fixed.push_back(static_cast<uint8_t>(id & 1));
    fixed.resize(fixedBytes);
    Bytes row = FixedVarRow(fixed, 17, variable, statusA, complexMask);
    if (statusA & 0x10)
        for (size_t k = 0; k < 3; ++k) row[4 + fixed.size() + 2 + k] = static_cast<uint8_t>(nulls >> (8 * k));
    return row;
}

std::unique_ptr<CDataPage> PageOf(const std::vector<Bytes>& rows, RunState& state) {
    PageBuilder pb;
    for (const Bytes& row : rows) pb.AddRow(row);
    return std::make_unique<CDataPage>(pb.Buffer(), nullptr, state);
}

// State, type and bytes of every cell of the planned columns.
void ExpectSameCells(const RowValues& planned, const RowValues& general, size_t row) {
    ASSERT_EQ(planned.size() + 1, general.size()) << row;
    for (size_t c = 0; c < planned.size(); ++c) {
        const Cell a = planned[c], b = general[c];
        EXPECT_EQ(a.state, b.state) << "row " << row << " column " << c;
        EXPECT_EQ(a.typeCode, b.typeCode) << "row " << row << " column " << c;
        EXPECT_EQ(a.bytes.toVector(), b.bytes.toVector()) << "row " << row << " column " << c;
    }
}

TEST(FixedVarRowPlanTest, GivesTheCellsOfTheGeneralDecoder) {
    RunState state;
    const Bytes nameA = Text("ab"), data = {0x01, 0xAB}, note = {'h', 0, 'i', 0}, code = {'x', 0, 'y', 0};
    const std::vector<Bytes> rows{
        PlannedRow(1, 0, {nameA, data, note, code}),
        // NULL fixed, bit and variable values; a NULL bit column keeps its bit of the byte.
        PlannedRow(2, (1u << 1) | (1u << 5) | (1u << 14) | (1u << 15), {nameA, {}, {}, code}),
        // An empty value in the middle, trailing values left out of the offset array.
        PlannedRow(3, 0, {nameA, {}}),
        PlannedRow(4, 1u << 13, {{}, data}),
        // Refused by the plan: a short fixed part, a large value, fewer columns than the layout.
        PlannedRow(5, 0, {nameA, data, note, code}, 0, 20),
        PlannedRow(6, 0, {nameA, Bytes(16, 0), note, code}, 0x2),
        FixedVarRow(Le(7, 4), 1, {}),
        // Damaged: the variable part is refused.
        [&] {
            Bytes r = PlannedRow(8, 0, {nameA});
            PutU16(r, 4 + 25 + 2 + 3, 40);  // more variable values than columns
            return r;
        }(),
    };
    TableLayout planned = PlannedLayout();
    TableLayout general = UnplannedLayout();
    ASSERT_TRUE(FixedVarRowPlan(planned.columns).usable());
    ASSERT_FALSE(FixedVarRowPlan(general.columns).usable());
    // Values are handed out once, so each decode reads a fresh page.
    auto planPage = PageOf(rows, state);
    auto generalPage = PageOf(rows, state);
    const auto& byPlan = DecodeRowValuesByRowsetColumns(*planPage, planned);
    const auto& byGeneral = DecodeRowValuesByRowsetColumns(*generalPage, general);
    ASSERT_EQ(byPlan.size(), rows.size());
    ASSERT_EQ(byGeneral.size(), rows.size());
    for (size_t r = 0; r < rows.size(); ++r) ExpectSameCells(byPlan[r], byGeneral[r], r);

    EXPECT_EQ(Texts(byPlan[0])[12], L"True");  // the ninth bit, from its own byte
    EXPECT_EQ(byPlan[0].state(13), CellState::Computed);
    EXPECT_EQ(Texts(byPlan[0])[16], L"hi");
    EXPECT_EQ(byPlan[2].state(15), CellState::Value);
    EXPECT_EQ(byPlan[2][15].bytes.size(), 0u);
    EXPECT_EQ(byPlan[3].state(14), CellState::Null);
}

TEST(FixedVarRowPlanTest, TakesOnlyWholePlainRecordsAndLeavesOthersUntouched) {
    RunState state;
    // Layouts the plan does not take.
    auto refused = [](auto change) {
        TableLayout layout = PlannedLayout();
        change(layout.columns);
        return !FixedVarRowPlan(layout.columns).usable();
    };
    EXPECT_TRUE(refused([](ColumnDefList& c) { c[0].sparse = 1; }));
    EXPECT_TRUE(refused([](ColumnDefList& c) { c[1].nullBitmapIndex = -1; }));
    EXPECT_TRUE(refused([](ColumnDefList& c) { c[14].leafOffset = 0; }));   // a variable value without an index
    EXPECT_TRUE(refused([](ColumnDefList& c) { c[15].leafOffset = -1; }));  // two columns on one value
    EXPECT_TRUE(refused([](ColumnDefList& c) { c[0].typeText = L"money"; c[0].typeCode = kTypeMoney; }));
    EXPECT_TRUE(refused([](ColumnDefList& c) { c.resize(1); c[0].ordinal = kOrdinalNotStored; }));

    TableLayout layout = PlannedLayout();
    const FixedVarRowPlan plan(layout.columns);
    const Bytes name = Text("name");
    auto page = PageOf({PlannedRow(1, 0, {name, {0x01}}, 0, 20), PlannedRow(2, 0, {name, Bytes(16, 0)}, 0x2),
                        PlannedRow(3, 0, {name, {0x01}})},
                       state);
    for (size_t slot = 0; slot < 2; ++slot) {
        CPrimaryRecord& record = *page->PrimaryRecordAt(slot);
        RowValues row(layout.columns.size(), 1252);
        EXPECT_FALSE(plan.Decode(record, row)) << slot;
        EXPECT_TRUE(record.columnValues[0].hasData()) << slot;
    }
    CPrimaryRecord& whole = *page->PrimaryRecordAt(2);
    RowValues row(layout.columns.size(), 1252);
    ASSERT_TRUE(plan.Decode(whole, row));
    EXPECT_EQ(Texts(row)[14], L"name");
    EXPECT_FALSE(whole.columnValues[0].hasData());  // handed out

    // A record whose column count does not reach the layout's, and one without a NULL bitmap.
    auto fewer = PageOf({PlannedRow(4, 0, {name})}, state);
    CPrimaryRecord& short17 = *fewer->PrimaryRecordAt(0);
    short17.columnCount = 16;
    RowValues fewerRow(layout.columns.size(), 1252);
    EXPECT_FALSE(plan.Decode(short17, fewerRow));
    auto plain = PageOf({PlannedRow(5, 0, {name}, 0, 25, 0x20)}, state);
    RowValues plainRow(layout.columns.size(), 1252);
    ASSERT_TRUE(plan.Decode(*plain->PrimaryRecordAt(0), plainRow));
    EXPECT_EQ(Texts(plainRow)[0], L"5");
    EXPECT_EQ(plainRow.state(15), CellState::Value);  // left out of the offset array: empty, not NULL
}

// A damaged column id that reads as the "not stored" mark: a row written before the column was added
// must not make the column computed for the rows after it, on either path.
TEST(FixedVarRowPlanTest, DamagedColumnIdKeepsLaterRowsAlikeOnBothPaths) {
    auto layoutOf = [] {
        TableLayout layout;
        ColumnDef a = LayoutColumn(1, L"a", L"int(4)", kTypeInt, 4);
        a.ordinal = 3;
        a.columnId = 0xFFFFFF9Du;  // -99 as a signed id
        layout.columns.push_back(a);
        return layout;
    };
    const std::vector<Bytes> rows{FixedVarRow(Le(7, 4), 2, {}, 0x10), FixedVarRow(Le(8, 4), 3, {}, 0x10)};
    RunState state;
    TableLayout planned = layoutOf(), general = layoutOf();
    general.columns.push_back(LayoutColumn(60, L"late", L"int(4)", kTypeInt, 2, 1));
    const auto a = PageOf(rows, state), b = PageOf(rows, state);
    const auto& byPlan = DecodeRowValuesByRowsetColumns(*a, planned);
    const auto& byGeneral = DecodeRowValuesByRowsetColumns(*b, general);
    ASSERT_EQ(byPlan.size(), 2u);
    ASSERT_EQ(byGeneral.size(), 2u);
    for (size_t r = 0; r < 2; ++r) EXPECT_EQ(byPlan[r].state(0), byGeneral[r].state(0)) << r;
    EXPECT_NE(byGeneral[1].state(0), CellState::Computed);
}

}  // namespace
}  // namespace kestrane
