#include "logreader/TransactionTable.h"

namespace kestrane {

namespace {
constexpr unsigned kFirstBits = 6;
}  // namespace

const TransactionTable::Entry* TransactionTable::Find(uint64_t id) const {
    if (used_ == 0) return nullptr;
    const size_t mask = slots_.size() - 1;
    for (size_t i = Home(id);; i = (i + 1) & mask) {
        const Entry& e = slots_[i];
        if (e.id == id) return &e;
        if (e.id == 0) return nullptr;
    }
}

void TransactionTable::Begin(uint64_t id, uint32_t nameId, uint64_t beginTime) {
    // At most half full, so that a probe ends soon at a free slot.
    if (2 * (used_ + 1) > slots_.size()) Grow();
    const size_t mask = slots_.size() - 1;
    size_t i = Home(id);
    while (slots_[i].id != 0 && slots_[i].id != id) i = (i + 1) & mask;
    if (slots_[i].id == 0) ++used_;
    slots_[i] = Entry{id, beginTime, nameId};
}

void TransactionTable::End(uint64_t id) {
    if (used_ == 0) return;
    const size_t mask = slots_.size() - 1;
    size_t i = Home(id);
    while (slots_[i].id != id) {
        if (slots_[i].id == 0) return;
        i = (i + 1) & mask;
    }
    // Moves back each later entry of the probe run that may fill the hole, so that no probe stops
    // early at it.
    for (size_t j = (i + 1) & mask; slots_[j].id != 0; j = (j + 1) & mask) {
        const size_t home = Home(slots_[j].id);
        const bool between = i <= j ? (i < home && home <= j) : (i < home || home <= j);
        if (between) continue;
        slots_[i] = slots_[j];
        i = j;
    }
    slots_[i] = Entry{};
    --used_;
}

void TransactionTable::Grow() {
    std::vector<Entry> old;
    old.swap(slots_);
    shift_ = old.empty() ? 64 - kFirstBits : shift_ - 1;
    slots_.assign(size_t{1} << (64 - shift_), Entry{});
    used_ = 0;
    for (const Entry& e : old)
        if (e.id) Begin(e.id, e.nameId, e.beginTime);
}

void TransactionTable::Clear() {
    if (used_) slots_.assign(slots_.size(), Entry{});
    used_ = 0;
}

}  // namespace kestrane
