#include <gtest/gtest.h>

#include "logreader/OperationPager.h"
#include "support/RecordingSinks.h"

namespace kestrane {
namespace {

struct FakeList : OperationListSink, OperationStatusSink {
    void DeleteAllRows() override { rows.clear(); }
    void AppendRow(const OperationListRow& r) override { rows.push_back(r); }
    void EnableNext(bool e) override { next = e; }
    void EnablePrevious(bool e) override { previous = e; }
    void SetStatusLine(const std::wstring& t) override { status = t; }
    void ClearRecordGrid() override { ++gridClears; }
    std::vector<OperationListRow> rows;
    bool next = true, previous = true;  // as the dialog starts: enabled until the pager says otherwise
    std::wstring status;
    int gridClears = 0;
};

// `count` entries of table 5, each followed by one of table 9 (so paging must skip those).
OperationStore MakeStore(size_t count, uint8_t op = 2) {
    OperationStore s;
    const uint32_t t5 = s.AddTable(5, 0x50000, L"T5"), t9 = s.AddTable(9, 0x90000, L"T9");
    const uint32_t x = s.Names().Intern(L"tx");
    for (size_t i = 0; i < count; ++i) {
        OperationEntry e;
        e.tableIndex = t5;
        e.transactionNameId = x;
        e.operation = op;
        s.Append(e);
        e.tableIndex = t9;
        s.Append(e);
    }
    return s;
}

struct Harness {
    explicit Harness(size_t count, uint8_t op = 2) : store(MakeStore(count, op)), pager(store, ui, ui, prompter) {}
    OperationStore store;
    FakeList ui;
    test::ScriptedPrompter prompter;
    OperationPager pager;
};

TEST(OperationPager, RowsOfOnePage) {
    Harness h(3, 4);
    h.pager.ListFirstPage(true, 5u);
    ASSERT_EQ(h.ui.rows.size(), 3u);
    const auto& r = h.ui.rows[1];
    EXPECT_EQ(r.entryIndex, 2u);  // table 5's entries only
    EXPECT_EQ(r.transaction, L"Update");
    EXPECT_EQ(r.loginName, L"dbo");
    EXPECT_EQ(r.time, L"");  // time 0: the transaction began before the log
    {
        OperationStore timed;
        OperationEntry e;
        e.tableIndex = timed.AddTable(5, 0x50000, L"T5");
        e.beginTime = uint64_t{1} << 32;  // day 1, midnight
        timed.Append(e);
        EXPECT_EQ(MakeOperationListRow(timed, 0, false).time, L"1900-01-02 00:00:00");
    }
    EXPECT_EQ(r.transactionName, L"tx");
    EXPECT_EQ(r.image, 0);
    EXPECT_EQ(h.ui.status, L"0 rows to 3");
    EXPECT_FALSE(h.ui.next);
    // "All" lists every entry and carries no image; code 5 shows as "5".
    Harness all(2, 5);
    all.pager.ListFirstPage(true, 0u);
    ASSERT_EQ(all.ui.rows.size(), 4u);
    EXPECT_EQ(all.ui.rows[0].transaction, L"5");
    EXPECT_EQ(all.ui.rows[0].image, -1);
    // The root lists nothing; so does a closed database; an empty store leaves the status empty.
    all.pager.ListFirstPage(true, std::nullopt);
    EXPECT_TRUE(all.ui.rows.empty());
    all.pager.ListFirstPage(false, 0u);
    EXPECT_TRUE(all.ui.rows.empty());
    EXPECT_FALSE(all.ui.next);
    Harness none(0);
    none.pager.ListFirstPage(true, 0u);
    EXPECT_EQ(none.ui.status, L"");
    EXPECT_FALSE(none.ui.next);
    EXPECT_FALSE(none.ui.previous);
}

TEST(OperationPager, Paging) {
    Harness exact(1000);
    exact.pager.ListFirstPage(true, 5u);
    EXPECT_EQ(exact.ui.rows.size(), 1000u);
    EXPECT_FALSE(exact.ui.next);

    // 1001 operations: page 2 holds the 1001st and disables Next>>; no box is shown, not even on a
    // further press.
    Harness h(1001);
    h.pager.ListFirstPage(true, 5u);
    EXPECT_EQ(h.ui.status, L"0 rows to 1000");
    EXPECT_TRUE(h.ui.next);
    h.pager.OnNextPage();
    ASSERT_EQ(h.ui.rows.size(), 1u);
    EXPECT_EQ(h.ui.rows[0].entryIndex, 2000u);
    EXPECT_EQ(h.ui.status, L"1000 rows to 1001");
    EXPECT_FALSE(h.ui.next);
    h.pager.OnNextPage();
    EXPECT_TRUE(h.prompter.messages.empty());
    EXPECT_FALSE(h.ui.next);

    // Full page 2: <<Previous lists page 1 and stays enabled; again: page 1 and disabled.
    Harness full(2500);
    full.pager.ListFirstPage(true, 5u);
    full.pager.OnNextPage();
    full.pager.OnPreviousPage();
    EXPECT_EQ(full.ui.status, L"0 rows to 1000");
    EXPECT_EQ(full.ui.rows.front().entryIndex, 0u);
    EXPECT_TRUE(full.ui.previous);
    full.pager.OnPreviousPage();
    EXPECT_EQ(full.ui.status, L"0 rows to 1000");
    EXPECT_FALSE(full.ui.previous);

    // Partial page 2: <<Previous lists page 1 and disables itself at once.
    Harness partial(1500);
    partial.pager.ListFirstPage(true, 5u);
    partial.pager.OnNextPage();
    partial.pager.OnPreviousPage();
    EXPECT_EQ(partial.ui.status, L"0 rows to 1000");
    EXPECT_FALSE(partial.ui.previous);

    // Partial last page 4 (3000 rows to 3005): <<Previous lands on page 3 (the closing bookmark),
    // Next>> goes back to page 4 and is disabled there again.
    Harness four(3005);
    four.pager.ListFirstPage(true, 5u);
    for (int i = 0; i < 3; ++i) four.pager.OnNextPage();
    EXPECT_EQ(four.ui.status, L"3000 rows to 3005");
    EXPECT_FALSE(four.ui.next);
    four.pager.OnPreviousPage();
    EXPECT_TRUE(four.ui.next);
    EXPECT_EQ(four.ui.status, L"2000 rows to 3000");
    EXPECT_EQ(four.ui.rows.front().entryIndex, 4000u);
    four.pager.OnNextPage();
    EXPECT_EQ(four.ui.status, L"3000 rows to 3005");
    EXPECT_FALSE(four.ui.next);
    EXPECT_TRUE(four.prompter.messages.empty());

    // A full last page 3 of "All": <<Previous lands on page 2.
    Harness all(1500);
    all.pager.ListFirstPage(true, 0u);
    all.pager.OnNextPage();
    all.pager.OnNextPage();
    all.pager.OnPreviousPage();
    EXPECT_EQ(all.ui.status, L"1000 rows to 2000");
    EXPECT_EQ(all.ui.rows.front().entryIndex, 1000u);
}

}  // namespace
}  // namespace kestrane
