#include "logreader/OperationPager.h"

#include <algorithm>
#include <cstring>

#include "datafile/ValueText.h"
#include "logreader/LogFormat.h"
#include "platform/Prompter.h"

namespace kestrane {

std::wstring OperationKindText(uint8_t operation) {
    switch (operation) {
        case logfmt::kOpInsertRow: return L"Insert";
        case logfmt::kOpDeleteRow: return L"Delete";
        case logfmt::kOpModifyRow:
        case logfmt::kOpModifyColumns: return L"Update";
        default: return std::to_wstring(operation);
    }
}

OperationListRow MakeOperationListRow(const OperationStore& store, uint64_t index, bool withImage) {
    const OperationEntry& e = store[index];
    OperationListRow row;
    row.entryIndex = index;
    row.transaction = OperationKindText(e.operation);
    row.loginName = L"dbo";
    uint8_t time[8];
    static_assert(sizeof time == sizeof e.beginTime);
    std::memcpy(time, &e.beginTime, sizeof time);
    // Time 0: the transaction began before the log; no time is known.
    if (e.beginTime != 0) row.time = FormatDateTime(ByteView(time, sizeof time));
    row.tableName = store.TableName(e);
    row.transactionName = store.TransactionName(e);
    if (withImage) {
        switch (e.operation) {
            case logfmt::kOpInsertRow: row.image = 2; break;
            case logfmt::kOpDeleteRow: row.image = 1; break;
            case logfmt::kOpModifyRow:
            case logfmt::kOpModifyColumns: row.image = 0; break;
            default: break;
        }
    }
    return row;
}

// Lists up to kPageRows matching entries from the bookmark. A table node walks only its own entries
// (from the first at or after the start), so a page costs its rows, not the whole array.
OperationPager::Listed OperationPager::ListPage(const PageBookmark& from, bool withImages) {
    Listed out;
    auto emit = [&](uint64_t index) -> bool {
        if (out.rows == kPageRows) {
            out.next = index;
            return false;
        }
        list_.AppendRow(MakeOperationListRow(store_, index, withImages));
        ++out.rows;
        out.end = index + 1;
        return true;
    };
    out.end = from.start;
    if (from.objectId == 0) {
        for (uint64_t i = from.start; i < store_.Size(); ++i)
            if (!emit(i)) break;
    } else {
        const auto indexes = store_.EntriesOfTable(from.objectId);
        auto it = std::lower_bound(indexes.begin(), indexes.end(), from.start,
                                   [](uint32_t index, uint64_t start) { return index < start; });
        for (; it != indexes.end(); ++it)
            if (!emit(*it)) break;
    }
    return out;
}

void OperationPager::ShowRange(uint64_t from, uint64_t to) {
    from_ = from;
    to_ = to;
    status_.SetStatusLine(std::to_wstring(from) + L" rows to " + std::to_wstring(to));
}

void OperationPager::ListFirstPage(bool databaseOpen, std::optional<uint32_t> node) {
    list_.DeleteAllRows();
    status_.ClearRecordGrid();
    status_.SetStatusLine(L"");
    // Next>> is offered only where a page follows; <<Previous only past the first page.
    list_.EnableNext(false);
    list_.EnablePrevious(false);
    if (!databaseOpen || !node) return;
    const uint32_t id = *node;
    stack_.clear();
    endReached_ = false;
    stack_.push_back(PageBookmark{0, id, 0});
    const Listed page = ListPage(stack_.back(), id != 0);
    if (page.next) stack_.push_back(PageBookmark{*page.next, id, 0});
    if (page.rows > 0) {
        ShowRange(0, page.rows);
        if (page.next) list_.EnableNext(true);
    }
}

// A page listed by Next>> that ends the list pushes a closing bookmark (the index past its last
// entry), so that the top is always the start of the page after the shown one and <<Previous lands
// on the page before the shown one; the end-reached flag marks that closing bookmark.
void OperationPager::OnNextPage() {
    status_.SetStatusLine(L"");
    status_.ClearRecordGrid();
    if (stack_.size() < 2) {
        list_.EnableNext(false);
        return;
    }
    if (endReached_) {  // Next>> is disabled on the last page; nothing more to say
        list_.EnableNext(false);
        return;
    }
    list_.EnableNext(true);
    list_.EnablePrevious(true);
    list_.DeleteAllRows();
    const PageBookmark top = stack_.back();
    const Listed page = ListPage(top, false);
    if (page.next) {
        stack_.push_back(PageBookmark{*page.next, top.objectId, 0});
    } else {
        stack_.push_back(PageBookmark{page.end, top.objectId, 0});
        endReached_ = true;
        list_.EnableNext(false);
    }
    const uint64_t p = stack_.size() - 1;
    from_ = to_;
    to_ = from_ + page.rows;
    status_.SetStatusLine(std::to_wstring((p - 1) * kPageRows) + L" rows to " +
                          std::to_wstring((p - 1) * kPageRows + page.rows));
}

void OperationPager::OnPreviousPage() {
    status_.SetStatusLine(L"");
    status_.ClearRecordGrid();
    const size_t depth = stack_.size();
    if (depth < 2) {
        list_.EnablePrevious(false);
        list_.EnableNext(true);
        return;
    }
    list_.EnableNext(true);
    const bool closing = endReached_;
    endReached_ = false;
    PageBookmark page;
    bool first;
    if (depth == 2) {
        page = stack_.front();
        first = true;
    } else {
        stack_.pop_back();  // start of the page after the shown one
        const PageBookmark shown = stack_.back();
        stack_.pop_back();
        page = stack_.back();
        stack_.push_back(shown);
        // After the closing page, landing on the first page is the same as the two-bookmark case.
        first = closing && stack_.size() == 2;
    }
    if (first) list_.EnablePrevious(false);
    list_.DeleteAllRows();
    const Listed listed = ListPage(page, false);
    if (first) {
        ShowRange(0, listed.rows);
    } else {
        const uint64_t from = from_ >= kPageRows ? from_ - kPageRows : 0;
        ShowRange(from, from + listed.rows);
    }
}

}  // namespace kestrane
