#pragma once
// The operation entries of one analysis run in scan order, the names they refer to, the per-table
// index that lets a page of one table be listed without walking the others' entries, and the
// TableNameMap (object id -> table name of each table with at least one entry). Entries live in
// blocks that are never copied: the log scan fills blocks of its own and hands them over whole.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "logreader/NameTable.h"
#include "logreader/OperationEntry.h"

namespace kestrane {

using TableNameMap = std::map<uint32_t, std::wstring>;

// Room for entries, filled by one owner and handed on whole. A large block's memory is reserved at
// once and committed as entries are written, so that a small log costs little. (Large pages were
// tried: faulting them in cost more than they saved, waiting on the kernel to assemble them.)
class EntryBlock {
public:
    static constexpr size_t kLargeCapacity = size_t{1} << 16;  // 2 MiB

    EntryBlock() = default;
    explicit EntryBlock(size_t capacity);
    EntryBlock(EntryBlock&& other) noexcept { *this = std::move(other); }
    EntryBlock& operator=(EntryBlock&& other) noexcept;
    ~EntryBlock() { Release(); }

    OperationEntry* data() { return entries_; }
    const OperationEntry* data() const { return entries_; }
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    bool full() const { return size_ == capacity_; }
    OperationEntry& Add() {  // only when !full()
        if (size_ % kCommitStep == 0 && capacity_ >= kLargeCapacity) Commit();
        return entries_[size_++];
    }
    void Resize(size_t n) { size_ = n; }                  // n <= size()

private:
    // A large block's pages are committed a stretch at a time, ahead of the entries written there:
    // one call instead of a page fault for every 128 entries.
    static constexpr size_t kCommitStep = 2048;  // 64 KiB
    void Commit();
    void Release();

    OperationEntry* entries_ = nullptr;
    size_t capacity_ = 0;
    size_t size_ = 0;
};

class OperationStore {
public:
    // The index of a table for OperationEntry::tableIndex, adding it when new.
    uint32_t AddTable(uint32_t objectId, uint64_t allocationUnitId, const std::wstring& name);
    // Appends an entry (table from AddTable, transaction name from Names()); false when the store is
    // full (2^32 - 1 entries, the widest index the per-table lists hold) or the table is unknown.
    bool Append(const OperationEntry& entry);
    // Appends a block of entries whose tables and names are the store's; the part that would pass
    // the store's limit is left out. NoteTable marks a table as having entries, in the order the
    // entries of the tables come. Returns how many entries were taken.
    size_t Adopt(EntryBlock block);
    void NoteTable(uint32_t tableIndex);

    size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    const OperationEntry& operator[](size_t i) const;

    NameTable& Names() { return names_; }
    const NameTable& Names() const { return names_; }
    const OperationTable& Table(const OperationEntry& e) const { return tables_[e.tableIndex]; }
    size_t TableCount() const { return tables_.size(); }
    uint32_t ObjectId(const OperationEntry& e) const { return Table(e).objectId; }
    uint64_t AllocationUnitId(const OperationEntry& e) const { return Table(e).allocationUnitId; }
    const std::wstring& TableName(const OperationEntry& e) const { return names_.Text(Table(e).nameId); }
    const std::wstring& TransactionName(const OperationEntry& e) const { return names_.Text(e.transactionNameId); }

    // Indexes (ascending) of the entries of one table. The index is built on the first call after
    // entries were appended (one pass over them), not while the scan appends.
    std::span<const uint32_t> EntriesOfTable(uint32_t objectId) const;
    // The object id of the table whose rowset is `allocationUnitId`; nullopt when no table has it.
    std::optional<uint32_t> ObjectIdOf(uint64_t allocationUnitId) const {
        for (const OperationTable& t : tables_)
            if (t.allocationUnitId == allocationUnitId) return t.objectId;
        return std::nullopt;
    }
    // Object id -> table name for every table with an entry (first name seen stays).
    const TableNameMap& Tables() const { return tableNames_; }
    // The analysis run clears the name map once the tree is built; the entries stay.
    void ClearTableNameMap() { tableNames_.clear(); }

    void Clear();

private:
    void BuildTableIndex() const;

    std::vector<EntryBlock> blocks_;
    std::vector<size_t> starts_;  // index of the first entry of each block
    size_t size_ = 0;
    NameTable names_;

    std::vector<OperationTable> tables_;
    std::vector<uint8_t> tableSeen_;  // per table: has an entry
    TableNameMap tableNames_;
    mutable std::unordered_map<uint32_t, std::vector<uint32_t>> byTable_;
    mutable size_t indexedSize_ = 0;
};

}  // namespace kestrane
