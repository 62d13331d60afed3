#include "logreader/TransactionTable.h"

namespace kestrane {

namespace {
constexpr unsigned kFirstBits = 6;
}  // namespace

void TransactionTable::Grow() {
    std::vector<Entry> old;
    old.swap(slots_);
    shift_ = old.empty() ? 64 - kFirstBits : shift_ - 1;
    slots_.assign(size_t{1} << (64 - shift_), Entry{});
    mask_ = slots_.size() - 1;
    used_ = 0;
    for (const Entry& e : old)
        if (e.id) Begin(e.id, e.nameId, e.beginTime);
}

void TransactionTable::Clear() {
    if (used_) slots_.assign(slots_.size(), Entry{});
    used_ = 0;
}

}  // namespace kestrane
