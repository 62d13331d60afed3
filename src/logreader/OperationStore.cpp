#include "logreader/OperationStore.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <new>
#include <utility>

namespace kestrane {

namespace {
// The per-table lists index entries with 32 bits.
constexpr size_t kMaxEntries = std::numeric_limits<uint32_t>::max();
}  // namespace

EntryBlock::EntryBlock(size_t capacity) : capacity_(capacity) {
    const size_t bytes = capacity * sizeof(OperationEntry);
    void* m = capacity < kLargeCapacity
                  ? std::malloc(bytes)
                  : ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (!m || m == MAP_FAILED) throw std::bad_alloc();
    entries_ = static_cast<OperationEntry*>(m);
}

EntryBlock& EntryBlock::operator=(EntryBlock&& other) noexcept {
    if (this != &other) {
        Release();
        entries_ = std::exchange(other.entries_, nullptr);
        capacity_ = std::exchange(other.capacity_, 0);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void EntryBlock::Commit() {
#ifdef MADV_POPULATE_WRITE
    // On a kernel without it the pages are faulted in as they are written, as before.
    ::madvise(entries_ + size_, std::min(kCommitStep, capacity_ - size_) * sizeof(OperationEntry), MADV_POPULATE_WRITE);
#endif
}

void EntryBlock::Release() {
    if (!entries_) return;
    if (capacity_ < kLargeCapacity) std::free(entries_);
    else ::munmap(entries_, capacity_ * sizeof(OperationEntry));
    entries_ = nullptr;
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
    if (blocks_.empty() || blocks_.back().full()) {
        blocks_.emplace_back(EntryBlock::kLargeCapacity);
        starts_.push_back(size_);
    }
    blocks_.back().Add() = entry;
    ++size_;
    NoteTable(entry.tableIndex);
    return true;
}

size_t OperationStore::Adopt(EntryBlock block) {
    block.Resize(std::min(block.size(), kMaxEntries - size_));
    const size_t n = block.size();
    if (n == 0) return 0;
    starts_.push_back(size_);
    blocks_.push_back(std::move(block));
    size_ += n;
    return n;
}

const OperationEntry& OperationStore::operator[](size_t i) const {
    const size_t b = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), i) - starts_.begin()) - 1;
    return blocks_[b].data()[i - starts_[b]];
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
    for (const EntryBlock& b : blocks_)
        for (size_t k = 0; k < b.size(); ++k) ++counts[b.data()[k].tableIndex];
    byTable_.clear();
    std::vector<std::vector<uint32_t>*> lists(tables_.size(), nullptr);
    for (size_t t = 0; t < tables_.size(); ++t) {
        if (counts[t] == 0) continue;
        lists[t] = &byTable_[tables_[t].objectId];
        lists[t]->reserve(lists[t]->capacity() + counts[t]);
    }
    uint32_t i = 0;
    for (const EntryBlock& b : blocks_)
        for (size_t k = 0; k < b.size(); ++k) lists[b.data()[k].tableIndex]->push_back(i++);
    indexedSize_ = size_;
}

std::span<const uint32_t> OperationStore::EntriesOfTable(uint32_t objectId) const {
    if (indexedSize_ != size_) BuildTableIndex();
    auto it = byTable_.find(objectId);
    if (it == byTable_.end()) return {};
    return it->second;
}

void OperationStore::Clear() {
    blocks_.clear();
    starts_.clear();
    size_ = 0;
    names_.Clear();
    byTable_.clear();
    indexedSize_ = 0;
    tables_.clear();
    tableSeen_.clear();
    tableNames_.clear();
}

}  // namespace kestrane
