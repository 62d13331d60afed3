#include "logreader/OperationStore.h"

#include <sys/mman.h>

#include <algorithm>
#include <limits>
#include <new>

namespace kestrane {

namespace {
constexpr size_t kChunkBytes = (size_t{1} << 20) * sizeof(OperationEntry);
// The per-table lists index entries with 32 bits.
constexpr size_t kMaxEntries = std::numeric_limits<uint32_t>::max();
}

void OperationStore::ChunkRelease::operator()(OperationEntry* chunk) const { ::munmap(chunk, kChunkBytes); }

OperationStore::Chunk OperationStore::NewChunk() {
    static_assert(kChunkBytes == kChunkSize * sizeof(OperationEntry));
    void* m = ::mmap(nullptr, kChunkBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    ::madvise(m, kChunkBytes, MADV_HUGEPAGE);
#endif
    return Chunk(static_cast<OperationEntry*>(m));
}

uint32_t OperationStore::AddTable(uint32_t objectId, uint64_t allocationUnitId, const std::wstring& name) {
    const uint32_t nameId = names_.Intern(name);
    for (size_t i = 0; i < tables_.size(); ++i) {
        const OperationTable& t = tables_[i];
        if (t.objectId == objectId && t.allocationUnitId == allocationUnitId && t.nameId == nameId)
            return static_cast<uint32_t>(i);
    }
    tables_.push_back(OperationTable{objectId, allocationUnitId, nameId});
    tableSeen_.push_back(0);
    return static_cast<uint32_t>(tables_.size() - 1);
}

bool OperationStore::Append(const OperationEntry& entry) {
    if (size_ >= kMaxEntries || entry.tableIndex >= tables_.size()) return false;
    if ((size_ & kChunkMask) == 0) chunks_.push_back(NewChunk());
    chunks_.back()[size_ & kChunkMask] = entry;
    ++size_;
    NoteTable(entry.tableIndex);
    return true;
}

size_t OperationStore::Grow(size_t count) {
    count = std::min<size_t>(count, kMaxEntries - size_);
    size_ += count;
    while (chunks_.size() << kChunkBits < size_) chunks_.push_back(NewChunk());
    return count;
}

void OperationStore::NoteTable(uint32_t tableIndex) {
    if (tableIndex >= tables_.size() || tableSeen_[tableIndex]) return;
    tableSeen_[tableIndex] = 1;
    const OperationTable& t = tables_[tableIndex];
    tableNames_.try_emplace(t.objectId, names_.Text(t.nameId));
}

void OperationStore::BuildTableIndex() const {
    // Counted per table index first (no hashing per entry), then one list per object id.
    std::vector<size_t> counts(tables_.size(), 0);
    for (size_t i = 0; i < size_; ++i) ++counts[(*this)[i].tableIndex];
    byTable_.clear();
    std::vector<std::vector<uint32_t>*> lists(tables_.size(), nullptr);
    for (size_t t = 0; t < tables_.size(); ++t) {
        if (counts[t] == 0) continue;
        lists[t] = &byTable_[tables_[t].objectId];
        lists[t]->reserve(lists[t]->capacity() + counts[t]);
    }
    for (size_t i = 0; i < size_; ++i) lists[(*this)[i].tableIndex]->push_back(static_cast<uint32_t>(i));
    indexedSize_ = size_;
}

std::span<const uint32_t> OperationStore::EntriesOfTable(uint32_t objectId) const {
    if (indexedSize_ != size_) BuildTableIndex();
    auto it = byTable_.find(objectId);
    if (it == byTable_.end()) return {};
    return it->second;
}

void OperationStore::Clear() {
    chunks_.clear();
    size_ = 0;
    names_.Clear();
    byTable_.clear();
    indexedSize_ = 0;
    tables_.clear();
    tableSeen_.clear();
    tableNames_.clear();
}

}  // namespace kestrane
