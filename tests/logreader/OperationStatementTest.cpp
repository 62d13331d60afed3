#include <gtest/gtest.h>

#include "logreader/OperationDetail.h"
#include "logreader/LoggedRowChange.h"
#include "logreader/OperationRebuild.h"
#include "logreader/OperationStatement.h"
#include "platform/RunState.h"
#include "LogFixture.h"
#include "support/CellRows.h"

namespace kestrane {
namespace {

ColumnDef Col(const std::wstring& name, uint32_t code = kTypeInt, uint8_t key = 0, uint8_t index08 = 0,
              int32_t ordinal = 1) {
    ColumnDef c(name, code == kTypeInt ? L"int(4)" : L"nvarchar(20)", code);
    c.keyFlag = key;
    c.indexFlag08 = index08;
    c.ordinal = ordinal;
    return c;
}

// `columns` followed by a timestamp column "ts".
ColumnDefList WithTimestamp(ColumnDefList columns) {
    ColumnDef stamp(L"ts", L"timestamp(8)", kTypeTimestamp);
    stamp.ordinal = 4;
    columns.push_back(stamp);
    return columns;
}

TEST(OperationStatement, InsertAndDeleteNameTheirRowByItsWholeKey) {
    RunState state("");
    const ColumnDefList orders = {Col(L"id", kTypeInt, 1), Col(L"n"), Col(L"calc", kTypeInt, 0, 0, kOrdinalNotStored)};
    const RowValues row = test::RowOf(orders, {L"7", L"8", L"1"});
    EXPECT_EQ(BuildInsertStatement(L"Orders", orders, row, state), L"insert into [Orders] values( 7,8)");
    // A "]" in a name is doubled inside the brackets.
    EXPECT_EQ(BuildDeleteStatement(L"a]b", orders, row, state), L"Delete from [a]]b] where [id]= 7");
    const ColumnDefList computedOnly = {Col(L"c", kTypeInt, 0, 0, kOrdinalNotStored)};
    EXPECT_EQ(BuildInsertStatement(L"T", computedOnly, test::RowOf(computedOnly, {L"1"}), state),
              L"insert into [T] values( )");

    const struct {
        ColumnDefList columns;
        std::vector<std::optional<std::wstring>> values;
        std::wstring condition;
    } cases[] = {
        // every column of a key of two columns
        {{Col(L"a", kTypeInt, 1), Col(L"b", kTypeInt, 1), Col(L"v")}, {L"1", L"2", L"3"}, L"[a]= 1 and [b]= 2"},
        // no primary key: the unique index's columns
        {{Col(L"a"), Col(L"b", kTypeInt, 0, 1)}, {L"1", L"2"}, L"[b]= 2"},
        // no unique key: every stored column, NULL compared with IS NULL, texts as Unicode literals
        {{Col(L"a"), Col(L"s]", kTypeNVarChar), Col(L"n", kTypeNVarChar)}, {L"1", L"O'K", std::nullopt},
         L"[a]= 1 and [s]]]= N'O''K' and [n] IS NULL"},
        {{Col(L"a"), Col(L"t", kTypeNText)}, {L"1", L"long"}, L"[a]= 1"},  // ntext cannot be compared
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WhereCondition(c.columns, test::RowOf(c.columns, c.values), state), c.condition);
        EXPECT_EQ(BuildDeleteStatement(L"T", c.columns, test::RowOf(c.columns, c.values), state),
                  L"Delete from [T] where " + c.condition);
    }
    // A key value that the files do not give leaves the row unnamed: no statement.
    RowValues unnamed = test::RowOf(cases[0].columns, cases[0].values);
    unnamed.SetState(1, cases[0].columns[1], CellState::Unavailable);
    EXPECT_EQ(BuildDeleteStatement(L"T", cases[0].columns, unnamed, state), L"");
    EXPECT_EQ(BuildDeleteStatement(L"T", {}, RowValues(), state), L"");
}

TEST(OperationStatement, UpdateSetsTheValuesBeforeTheChangeOnTheRowAsItStands) {
    RunState state("");
    const ColumnDefList columns = WithTimestamp({Col(L"id", kTypeInt, 1), Col(L"n"), Col(L"m", kTypeNVarChar)});
    const RowValues now = test::RowOf(columns, {L"7", L"5", L"NULL", L"0x0002"});
    const RowValues before = test::RowOf(columns, {L"7", L"8", std::nullopt, L"0x0001"});
    // Equal images: no statement.
    EXPECT_EQ(BuildUpdateStatement(L"T", columns, now, now, state), L"");
    EXPECT_EQ(BuildUpdateStatement(L"T", columns, now, before, state),
              L"Update [T] SET [n] = 8,[m] = NULL Where [id]= 7");
    // A changed key: the row is named by its key as it stands.
    const RowValues moved = test::RowOf(columns, {L"9", L"8", std::nullopt, L"0x0001"});
    EXPECT_EQ(BuildUpdateStatement(L"T", columns, moved, before, state), L"Update [T] SET [id] = 7 Where [id]= 9");
    EXPECT_EQ(BuildOperationStatementText(4, L"T", columns, {now}, state), L"");
    EXPECT_EQ(BuildOperationStatementText(5, L"T", columns, {now, before}, state), L"");
}

// Every operation without a statement says why: an UPDATE with nothing to set back, a row that
// cannot be named, a row that did not decode.
TEST(OperationStatement, EveryMissingStatementHasItsReason) {
    RunState state("");
    const ColumnDefList columns = WithTimestamp({Col(L"id", kTypeInt, 1), Col(L"n"), Col(L"doc", kTypeNText)});
    const RowValues now = test::RowOf(columns, {L"7", L"5", L"new", L"0x0002"});
    const RowValues changed = test::RowOf(columns, {L"7", L"8", L"old", L"0x0001"});
    EXPECT_EQ(NoStatementReason(4, columns, {now, changed}, state), L"");
    EXPECT_EQ(NoStatementReason(2, columns, {now}, state), L"");
    EXPECT_EQ(NoStatementReason(3, columns, {now}, state), L"");

    // Only the large value (not given by the files) and the timestamp changed.
    RowValues lostText = test::RowOf(columns, {L"7", L"5", L"old", L"0x0001"});
    lostText.SetState(2, columns[2], CellState::Unavailable);
    const std::wstring why = NoStatementReason(6, columns, {now, lostText}, state);
    EXPECT_EQ(BuildOperationStatementText(6, L"T", columns, {now, lostText}, state), L"");
    EXPECT_EQ(why, L"No statement: no column this update changed can be set back: the files do not give the earlier "
                   L"value of [doc]; [ts] is a timestamp, which the server sets itself.");
    EXPECT_EQ(NoStatementReason(4, columns, {now, now}, state), L"No statement: the row reads the same before and after this update.");

    // A key value the files do not give: DELETE and UPDATE cannot name the row.
    RowValues keyless = now;
    keyless.SetState(0, columns[0], CellState::Unavailable);
    EXPECT_EQ(BuildDeleteStatement(L"T", columns, keyless, state), L"");
    EXPECT_EQ(NoStatementReason(3, columns, {keyless}, state),
              L"No statement: the row cannot be named: the files do not give the value of [id].");
    EXPECT_EQ(NoStatementReason(4, columns, {keyless, changed}, state), NoStatementReason(3, columns, {keyless}, state));
    const ColumnDefList uncomparable = {Col(L"t", kTypeNText)};
    EXPECT_EQ(NoStatementReason(3, uncomparable, {test::RowOf(uncomparable, {L"x"})}, state),
              L"No statement: the row cannot be named: the table has no key and no column that can be compared.");

    // No row at all, or a kind of record that holds none.
    EXPECT_EQ(NoStatementReason(2, columns, {}, state), L"No statement: the row did not decode.");
    EXPECT_EQ(NoStatementReason(4, columns, {now}, state), L"No statement: the row did not decode.");
    EXPECT_FALSE(NoStatementReason(5, columns, {now, changed}, state).empty());

    // The status line: the statement, else the reason; a rebuild's own reason comes first.
    RowImages rebuilt;
    rebuilt.operation = 4;
    rebuilt.images = {now, lostText};
    EXPECT_EQ(OperationStatusLine(rebuilt, L"T", columns, state), why);
    rebuilt.images = {now, changed};
    EXPECT_EQ(OperationStatusLine(rebuilt, L"T", columns, state), BuildOperationStatementText(4, L"T", columns, rebuilt.images, state));
    // Every column the same: whether the stored bytes changed decides which reason.
    rebuilt.images = {now, now};
    rebuilt.afterBytes = rebuilt.beforeBytes = {0x30, 0x00, 0x08, 0x00, 0x01};
    EXPECT_EQ(OperationStatusLine(rebuilt, L"T", columns, state), kNoStatementReadsTheSame);
    rebuilt.afterBytes[4] = 0x02;
    EXPECT_EQ(OperationStatusLine(rebuilt, L"T", columns, state), kNoStatementChangeNotRead);
    rebuilt.images.clear();
    rebuilt.noRowReason = L"The row cannot be rebuilt: its log record cannot be read again.";
    EXPECT_EQ(OperationStatusLine(rebuilt, L"T", columns, state), rebuilt.noRowReason);
    rebuilt.noRowReason.clear();
    rebuilt.failure = RowRebuildFailure::BytesDiffer;
    EXPECT_EQ(OperationStatusLine(rebuilt, L"T", columns, state), RowRebuildFailureText(RowRebuildFailure::BytesDiffer));
}

// A value the files do not give shows as a mark no stored value shows as; NULL and '' stay themselves.
TEST(OperationStatement, GridTellsAnUnavailableValueFromAnEmptyText) {
    const ColumnDefList columns = {Col(L"id"), Col(L"s", kTypeNVarChar), Col(L"u", kTypeNVarChar),
                                   Col(L"m", kTypeNVarChar), Col(L"q", kTypeNVarChar), Col(L"n", kTypeNVarChar)};
    RowValues row = test::RowOf(columns, {L"1", L"", L"gone", L"<not available>", L"'<not available>'", std::nullopt});
    row.SetState(2, columns[2], CellState::Unavailable);
    EXPECT_EQ(RecordGridCells(L"inserted", columns, row, 0),
              (std::vector<std::wstring>{L"inserted", L"1", L"", L"<not available>", L"'<not available>'",
                                         L"''<not available>''", L"NULL"}));
    const ColumnDefList near = {Col(L"a", kTypeNVarChar), Col(L"b", kTypeNVarChar), Col(L"c", kTypeNVarChar)};
    const RowValues others = test::RowOf(near, {L"'<not available>", L"<not available", L"x<not available>x"});
    EXPECT_EQ(RecordGridCells(L"", near, others, 0),
              (std::vector<std::wstring>{L"", L"'<not available>", L"<not available", L"x<not available>x"}));
}

// A value with line breaks shows on one line in the grid, each break (CR LF as one) as a mark; the
// statement keeps it whole.
TEST(OperationStatement, GridShowsLineBreaksAsMarksAndTheStatementKeepsThem) {
    RunState state("");
    const ColumnDefList columns = {Col(L"id"), Col(L"d", kTypeNVarChar), Col(L"e", kTypeNVarChar)};
    const std::wstring text = L"first\r\nsecond\nthird\rfourth\u2028fifth\r\n";
    const RowValues row = test::RowOf(columns, {L"1", text, L"\r\n\n"});
    EXPECT_EQ(RecordGridCells(L"inserted", columns, row, 0),
              (std::vector<std::wstring>{L"inserted", L"1", L"first\u21B5second\u21B5third\u21B5fourth\u21B5fifth\u21B5",
                                         L"\u21B5\u21B5"}));
    const RowValues shortRow = test::RowOf(columns, {L"2", L"a\r\nb\nc", L"\r"});
    EXPECT_EQ(BuildInsertStatement(L"T", columns, shortRow, state),
              L"insert into [T] values( 2,N'a'+NCHAR(13)+NCHAR(10)+N'b'+NCHAR(10)+N'c',NCHAR(13))");
}

TEST(OperationStatement, GridCellsAndModifyRowRequest) {
    const ColumnDefList columns = {Col(L"hidden"), Col(L"a"), Col(L"c", kTypeInt, 0, 0, kOrdinalNotStored), Col(L"b")};
    const RowValues row = test::RowOf(columns, {L"0", L"1", L"3", std::nullopt});
    EXPECT_EQ(RecordGridCells(RecordGridCaption(4, 1), columns, row, 1),
              (std::vector<std::wstring>{L"before", L"1", L"NULL"}));
    EXPECT_EQ(RecordGridCaption(4, 0), L"after");
    EXPECT_EQ(RecordGridCaption(3, 0), L"deleted");
    EXPECT_TRUE(RecordGridCells(L"", columns, row, 9).empty());

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
    const auto change = ReadLoggedRowChange(record);
    ASSERT_TRUE(change);
    ASSERT_EQ(change->pieces.size(), 1u);
    EXPECT_EQ(record.RowSlot(), 3);
    EXPECT_EQ(change->pieces[0].afterAt, 12u);
    EXPECT_EQ(change->pieces[0].before.size(), 5u);
    EXPECT_EQ(change->pieces[0].after.size(), 2u);
    EXPECT_EQ(change->pieces[0].after.data(), bytes.data() + at + 8);
    s.elements.pop_back();
    bytes = test::RowRecord(s);
    RowLogRecord single(ByteView(bytes), LogRecordExtent{0, static_cast<uint32_t>(bytes.size())});
    EXPECT_FALSE(ReadLoggedRowChange(single));
    EXPECT_TRUE(RecordElement(single, 1).empty());
}

}  // namespace
}  // namespace kestrane
