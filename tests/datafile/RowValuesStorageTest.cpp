#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "datafile/ColumnDef.h"
#include "datafile/RowValues.h"

namespace kestrane {
namespace {

ColumnDef Binary() { return ColumnDef(L"b", L"varbinary(max)", kTypeVarBinary); }

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

void ExpectBytes(const RowValues& row, size_t column, const std::vector<uint8_t>& bytes) {
    const Cell cell = row[column];
    ASSERT_EQ(cell.state, CellState::Value);
    ASSERT_EQ(cell.bytes.size(), bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) EXPECT_EQ(cell.bytes.data()[i], bytes[i]) << i;
}

// Small rows keep their values in the row itself; a value that outgrows that room moves every value
// already set, and copies and moved rows keep them all.
TEST(RowValuesStorage, ValuesSurviveTheMoveFromTheRowToTheHeap) {
    const ColumnDef def = Binary();
    const std::vector<uint8_t> small = Pattern(40, 1), large = Pattern(3000, 2), tail = Pattern(5, 3);
    RowValues row(4, 1252);
    row.SetValue(0, def, ByteView(small));
    row.SetState(1, def, CellState::Null);
    row.SetValue(2, def, ByteView(large));
    row.BeginValue(3, def);
    row.AppendToValue(3, ByteView(tail));
    row.AppendToValue(3, ByteView(small));
    std::vector<uint8_t> joined = tail;
    joined.insert(joined.end(), small.begin(), small.end());

    ExpectBytes(row, 0, small);
    EXPECT_EQ(row.state(1), CellState::Null);
    ExpectBytes(row, 2, large);
    ExpectBytes(row, 3, joined);

    const RowValues copy = row;
    EXPECT_EQ(copy, row);
    RowValues source = copy;
    RowValues moved = std::move(source);
    EXPECT_EQ(moved, row);
    ExpectBytes(moved, 2, large);

    // A reset row starts again in its own room, every cell unavailable.
    moved.Reset(2, 1252);
    EXPECT_EQ(moved.state(0), CellState::Unavailable);
    moved.SetValue(1, def, ByteView(small));
    ExpectBytes(moved, 1, small);
}

TEST(RowValuesStorage, ManyColumnsAndSmallRowsCompareByValue) {
    const ColumnDef def = Binary();
    RowValues wide(200, 1252, 10);
    RowValues narrow(3, 1252);
    for (size_t c = 0; c < 200; ++c) wide.SetValue(c, def, ByteView(Pattern(c % 9, static_cast<uint8_t>(c))));
    for (size_t c = 0; c < 3; ++c) narrow.SetValue(c, def, ByteView(Pattern(c + 1, 9)));
    for (size_t c = 0; c < 200; ++c) ExpectBytes(wide, c, Pattern(c % 9, static_cast<uint8_t>(c)));
    std::vector<RowValues> rows{narrow, wide, narrow};
    EXPECT_EQ(rows[0], rows[2]);
    EXPECT_FALSE(rows[0] == rows[1]);
    EXPECT_EQ(rows[1], wide);
}

}  // namespace
}  // namespace kestrane
