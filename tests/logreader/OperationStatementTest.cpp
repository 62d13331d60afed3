#include <gtest/gtest.h>

#include "logreader/OperationDetail.h"
#include "logreader/OperationRebuild.h"
#include "logreader/OperationStatement.h"
#include "platform/RunState.h"
#include "LogFixture.h"

namespace kestrane {
namespace {

ColumnDef Col(const std::wstring& name, const std::wstring& text, uint8_t key = 0, uint8_t index08 = 0,
              int32_t ordinal = 1) {
    ColumnDef c(name, L"int", kTypeInt);
    c.valueText = text;
    c.keyFlag = key;
    c.indexFlag08 = index08;
    c.ordinal = ordinal;
    return c;
}

TEST(OperationStatement, InsertAndDelete) {
    RunState state("");
    ColumnDefList row = {Col(L"id", L"7", 1), Col(L"n", L"8"), Col(L"calc", L"id+1", 0, 0, kOrdinalNotStored)};
    EXPECT_EQ(BuildInsertStatement(L"Orders", row, state), L"insert into [Orders] values( 7,8)");
    // A "]" in the table name is doubled inside the brackets.
    EXPECT_EQ(BuildDeleteStatement(L"a]b", row), L"Delete from [a]]b] where id= 7");
    ColumnDefList computedOnly = {Col(L"c", L"x", 0, 0, kOrdinalNotStored)};
    EXPECT_EQ(BuildInsertStatement(L"T", computedOnly, state), L"insert into [T] values( )");

    // Key choice: the later of two key columns; an empty key text falls back to the last index-0x08
    // column, then to column 0.
    ColumnDefList twoKeys = {Col(L"a", L"1", 1), Col(L"b", L"2", 1)};
    EXPECT_EQ(BuildDeleteStatement(L"T", twoKeys), L"Delete from [T] where b= 2");
    ColumnDefList emptyKey = {Col(L"a", L"1"), Col(L"b", L"2", 0, 1), Col(L"k", L"", 1)};
    EXPECT_EQ(BuildDeleteStatement(L"T", emptyKey), L"Delete from [T] where b= 2");
    emptyKey[1].valueText.clear();
    EXPECT_EQ(BuildDeleteStatement(L"T", emptyKey), L"Delete from [T] where a= 1");
    ColumnDefList noKey = {Col(L"a", L"1"), Col(L"b", L"2")};
    EXPECT_EQ(BuildDeleteStatement(L"T", noKey), L"Delete from [T] where a= 1");
    EXPECT_EQ(BuildDeleteStatement(L"T", {}), L"");
}

TEST(OperationStatement, Update) {
    ColumnDefList before = {Col(L"id", L"7", 1), Col(L"n", L"8"), Col(L"m", L"9")};
    ColumnDefList after = before;
    // Equal images: no statement (for both update kinds).
    EXPECT_EQ(BuildUpdateStatement(L"T", before, after, 4), L"");
    EXPECT_EQ(BuildUpdateStatement(L"T", before, after, 6), L"");
    after[1].valueText = L"5";
    after[2].valueText = L"6";
    EXPECT_EQ(BuildUpdateStatement(L"T", before, after, 4), L"Update [T] SET n = 5,m = 6 Where id= 7");
    // Without key or index column: modify-row keys on column 0, modify-columns gives nothing.
    before[0].keyFlag = after[0].keyFlag = 0;
    EXPECT_EQ(BuildUpdateStatement(L"T", before, after, 4), L"Update [T] SET n = 5,m = 6 Where id= 7");
    EXPECT_EQ(BuildUpdateStatement(L"T", before, after, 6), L"");
    RunState state("");
    EXPECT_EQ(BuildOperationStatementText(4, L"T", {before}, state), L"");
    EXPECT_EQ(BuildOperationStatementText(5, L"T", {before, after}, state), L"");
}

TEST(OperationStatement, GridCellsAndModifyRowRequest) {
    ColumnDefList row = {Col(L"hidden", L"h"), Col(L"a", L"1"), Col(L"c", L"x", 0, 0, kOrdinalNotStored), Col(L"b", L"2")};
    EXPECT_EQ(RecordGridCells(row, 1), (std::vector<std::wstring>{L"1", L"2"}));
    EXPECT_TRUE(RecordGridCells(row, 9).empty());

    // Modify-row: element 1 starts 4-aligned after element 0; one element gives no second one.
    test::RowRecordSpec s;
    s.operation = 4;
    s.slot = 3;
    s.offsetInRow = 12;
    s.elements = {{1, 2, 3, 4, 5}, {9, 9}};
    auto bytes = test::RowRecord(s);
    RowLogRecord record(ByteView(bytes), LogRecordExtent{0, static_cast<uint32_t>(bytes.size())});
    LogElementWalk walk(record);
    ByteView e0;
    ASSERT_TRUE(walk.Next(e0));
    const size_t at = static_cast<size_t>(e0.data() - bytes.data());
    RowSpliceRequest r = OperationRebuilder::ModifyRowRequest(record, e0, at);
    EXPECT_EQ(r.rowSpliceMode, 1);
    EXPECT_EQ(r.slot, 3);
    EXPECT_EQ(r.offsetInRow, 12u);
    EXPECT_EQ(r.element0Length, 5u);
    EXPECT_EQ(r.element1Length, 2u);
    EXPECT_EQ(r.element1.data(), bytes.data() + at + 8);
    s.elements.pop_back();
    bytes = test::RowRecord(s);
    RowLogRecord single(ByteView(bytes), LogRecordExtent{0, static_cast<uint32_t>(bytes.size())});
    LogElementWalk walk1(single);
    ASSERT_TRUE(walk1.Next(e0));
    r = OperationRebuilder::ModifyRowRequest(single, e0, static_cast<size_t>(e0.data() - bytes.data()));
    EXPECT_EQ(r.element1Length, 0u);
    EXPECT_TRUE(r.element1.empty());
}

}  // namespace
}  // namespace kestrane
