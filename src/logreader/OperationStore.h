#pragma once
// The operation entries of one analysis run in scan order, the names they refer to, the per-table
// index that lets a page of one table be listed without walking the others' entries, and the
// TableNameMap (object id -> table name of each table with at least one entry). Entries live in
// fixed-size chunks, so that millions of them are appended without copying the ones before.
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "logreader/NameTable.h"
#include "logreader/OperationEntry.h"

namespace kestrane {

using TableNameMap = std::map<uint32_t, std::wstring>;

class OperationStore {
public:
    // The index of a table for OperationEntry::tableIndex, adding it when new.
    uint32_t AddTable(uint32_t objectId, uint64_t allocationUnitId, const std::wstring& name);
    // Appends an entry (table from AddTable, transaction name from Names()); false when the store is
    // full (2^32 - 1 entries, the widest index the per-table lists hold) or the table is unknown.
    bool Append(const OperationEntry& entry);
    // Filling by several threads at once: Grow makes room for up to `count` more entries (fewer
    // when the store would pass its limit) and returns how many; each is then written once through
    // At() before the store is read. NoteTable marks a table as having entries, in the order the
    // entries of the tables come.
    size_t Grow(size_t count);
    OperationEntry& At(size_t i) { return chunks_[i >> kChunkBits][i & kChunkMask]; }
    void NoteTable(uint32_t tableIndex);

    size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    const OperationEntry& operator[](size_t i) const { return chunks_[i >> kChunkBits][i & kChunkMask]; }

    NameTable& Names() { return names_; }
    const NameTable& Names() const { return names_; }
    const OperationTable& Table(const OperationEntry& e) const { return tables_[e.tableIndex]; }
    uint32_t ObjectId(const OperationEntry& e) const { return Table(e).objectId; }
    uint64_t AllocationUnitId(const OperationEntry& e) const { return Table(e).allocationUnitId; }
    const std::wstring& TableName(const OperationEntry& e) const { return names_.Text(Table(e).nameId); }
    const std::wstring& TransactionName(const OperationEntry& e) const { return names_.Text(e.transactionNameId); }

    // Indexes (ascending) of the entries of one table. The index is built on the first call after
    // entries were appended (one pass over them), not while the scan appends.
    std::span<const uint32_t> EntriesOfTable(uint32_t objectId) const;
    // Object id -> table name for every table with an entry (first name seen stays).
    const TableNameMap& Tables() const { return tableNames_; }
    // The analysis run clears the name map once the tree is built; the entries stay.
    void ClearTableNameMap() { tableNames_.clear(); }

    void Clear();

private:
    static constexpr unsigned kChunkBits = 20;
    static constexpr size_t kChunkSize = size_t{1} << kChunkBits;
    static constexpr size_t kChunkMask = kChunkSize - 1;

    // A chunk's memory is reserved whole and committed as entries are written (in large pages where
    // the system offers them), so a small log costs little and a large one few page faults.
    struct ChunkRelease {
        void operator()(OperationEntry* chunk) const;
    };
    using Chunk = std::unique_ptr<OperationEntry[], ChunkRelease>;
    static Chunk NewChunk();

    std::vector<Chunk> chunks_;
    size_t size_ = 0;
    NameTable names_;
    void BuildTableIndex() const;

    std::vector<OperationTable> tables_;
    std::vector<uint8_t> tableSeen_;  // per table: has an entry
    TableNameMap tableNames_;
    mutable std::unordered_map<uint32_t, std::vector<uint32_t>> byTable_;
    mutable size_t indexedSize_ = 0;
};

}  // namespace kestrane
