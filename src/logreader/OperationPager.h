#pragma once
// The operations list of one tree node, 1000 rows a page, with Next>> and <<Previous. The list,
// its buttons and the status line are reached through small interfaces so that the dialog only
// wires them up and the tests drive the pager headless.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "logreader/OperationStore.h"

namespace kestrane {

class Prompter;

struct OperationListRow {
    uint64_t entryIndex = 0;  // the row's item data
    std::wstring transaction;
    std::wstring loginName;
    std::wstring time;
    std::wstring tableName;
    std::wstring transactionName;
    int image = -1;  // image-list index: 2 Insert, 1 Delete, 0 Update; -1 none
};

// The operations list control and its two paging buttons.
class OperationListSink {
public:
    virtual ~OperationListSink() = default;
    virtual void DeleteAllRows() = 0;
    virtual void AppendRow(const OperationListRow& row) = 0;
    virtual void EnableNext(bool enable) = 0;
    virtual void EnablePrevious(bool enable) = 0;
};

// The status line and the record grid below the list.
class OperationStatusSink {
public:
    virtual ~OperationStatusSink() = default;
    virtual void SetStatusLine(const std::wstring& text) = 0;
    // Empties the record grid (its rows and columns).
    virtual void ClearRecordGrid() = 0;
};

struct PageBookmark {
    uint64_t start = 0;     // index into the entry array
    uint32_t objectId = 0;  // listed node; 0 = "All"
    uint32_t reserved = 0;
};

// The row texts of one entry.
OperationListRow MakeOperationListRow(const OperationStore& store, uint64_t index, bool withImage);
// "Insert", "Delete", "Update", or the code in decimal.
std::wstring OperationKindText(uint8_t operation);

class OperationPager {
public:
    static constexpr size_t kPageRows = 1000;

    OperationPager(const OperationStore& store, OperationListSink& list, OperationStatusSink& status,
                   Prompter& prompter)
        : store_(store), list_(list), status_(status), prompter_(prompter) {}

    // A double-click on a tree node: `node` is the node's object id (0 for "All"), nullopt for the
    // root (the database name), which lists nothing.
    void ListFirstPage(bool databaseOpen, std::optional<uint32_t> node);
    void OnNextPage();
    void OnPreviousPage();

    const std::vector<PageBookmark>& Bookmarks() const { return stack_; }
    bool EndReached() const { return endReached_; }
    std::pair<uint64_t, uint64_t> RowRange() const { return {from_, to_}; }

private:
    struct Listed {
        uint64_t rows = 0;
        std::optional<uint64_t> next;  // index of the matching entry that begins the next page
        uint64_t end = 0;              // index just past the last listed entry
    };
    Listed ListPage(const PageBookmark& from, bool withImages);
    void ShowRange(uint64_t from, uint64_t to);

    const OperationStore& store_;
    OperationListSink& list_;
    OperationStatusSink& status_;
    Prompter& prompter_;

    std::vector<PageBookmark> stack_;
    bool endReached_ = false;  // also: the top bookmark closes the list (see OnNextPage)
    uint64_t from_ = 0;
    uint64_t to_ = 0;
};

}  // namespace kestrane
