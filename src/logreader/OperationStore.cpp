#include "logreader/OperationStore.h"

#include <sys/mman.h>

#include <limits>
#include <new>

namespace kestrane {

namespace {
constexpr size_t kChunkBytes = (size_t{1} << 20) * sizeof(OperationEntry);
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

bool OperationStore::Append(const OperationEntry& entry) {
    if (size_ >= std::numeric_limits<uint32_t>::max()) return false;
    if ((size_ & kChunkMask) == 0) chunks_.push_back(NewChunk());
    const auto index = static_cast<uint32_t>(size_);
    chunks_.back()[size_ & kChunkMask] = entry;
    ++size_;
    if (!lastTable_ || lastTableId_ != entry.objectId) {
        lastTable_ = &byTable_[entry.objectId];
        lastTableId_ = entry.objectId;
        if (lastTable_->empty()) tableNames_.emplace(entry.objectId, names_.Text(entry.tableNameId));
    }
    lastTable_->push_back(index);
    return true;
}

std::span<const uint32_t> OperationStore::EntriesOfTable(uint32_t objectId) const {
    auto it = byTable_.find(objectId);
    if (it == byTable_.end()) return {};
    return it->second;
}

void OperationStore::Clear() {
    chunks_.clear();
    size_ = 0;
    names_.Clear();
    byTable_.clear();
    lastTable_ = nullptr;
    tableNames_.clear();
}

}  // namespace kestrane
