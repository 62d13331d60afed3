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
    // Appends an entry (names given by id, see Names()); false when the store is full (2^32 - 1
    // entries, the widest index the per-table lists hold).
    bool Append(const OperationEntry& entry);

    size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    const OperationEntry& operator[](size_t i) const { return chunks_[i >> kChunkBits][i & kChunkMask]; }

    NameTable& Names() { return names_; }
    const NameTable& Names() const { return names_; }
    const std::wstring& TableName(const OperationEntry& e) const { return names_.Text(e.tableNameId); }
    const std::wstring& TransactionName(const OperationEntry& e) const { return names_.Text(e.transactionNameId); }

    // Indexes (ascending) of the entries of one table.
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
    std::unordered_map<uint32_t, std::vector<uint32_t>> byTable_;
    uint32_t lastTableId_ = 0;
    std::vector<uint32_t>* lastTable_ = nullptr;  // values of byTable_ keep their address
    TableNameMap tableNames_;
};

}  // namespace kestrane
