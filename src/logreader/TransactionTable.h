#pragma once
// The open transactions of one stretch of the log by id, with the name and begin time of their
// begin-transaction record. A busy log interleaves many short transactions and the table is asked
// once per filed record, so it is one flat array probed in place, and a transaction leaves it when
// it ends: the table stays as small as the transactions open at once.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace kestrane {

class TransactionTable {
public:
    struct Entry {
        uint64_t id = 0;  // 0: a free slot (a record of no transaction carries id 0)
        uint64_t beginTime = 0;
        uint32_t nameId = 0;
    };

    TransactionTable() = default;
    // A table moved from is empty and usable.
    TransactionTable(TransactionTable&& other) noexcept { *this = std::move(other); }
    TransactionTable& operator=(TransactionTable&& other) noexcept {
        if (this != &other) {
            slots_ = std::exchange(other.slots_, {});
            mask_ = std::exchange(other.mask_, SIZE_MAX);
            used_ = std::exchange(other.used_, 0);
            shift_ = std::exchange(other.shift_, 64);
        }
        return *this;
    }

    // The entry of `id` (not 0), or null.
    const Entry* Find(uint64_t id) const {
        if (used_ == 0) return nullptr;
        for (size_t i = Home(id);; i = (i + 1) & mask_) {
            const Entry& e = slots_[i];
            if (e.id == id) return &e;
            if (e.id == 0) return nullptr;
        }
    }
    // A begin-transaction record of `id`: open with this name and time.
    void Begin(uint64_t id, uint32_t nameId, uint64_t beginTime) {
        // At most half full, so that a probe ends soon at a free slot.
        if (2 * (used_ + 1) > mask_ + 1) Grow();
        size_t i = Home(id);
        while (slots_[i].id != 0 && slots_[i].id != id) i = (i + 1) & mask_;
        if (slots_[i].id == 0) ++used_;
        slots_[i] = Entry{id, beginTime, nameId};
    }
    // A commit or abort record of `id`.
    void End(uint64_t id) {
        if (used_ == 0) return;
        size_t i = Home(id);
        while (slots_[i].id != id) {
            if (slots_[i].id == 0) return;
            i = (i + 1) & mask_;
        }
        // Moves back each later entry of the probe run that may fill the hole, so that no probe
        // stops early at it.
        for (size_t j = (i + 1) & mask_; slots_[j].id != 0; j = (j + 1) & mask_) {
            const size_t home = Home(slots_[j].id);
            const bool between = i <= j ? (i < home && home <= j) : (i < home || home <= j);
            if (between) continue;
            slots_[i] = slots_[j];
            i = j;
        }
        slots_[i] = Entry{};
        --used_;
    }

    size_t Size() const { return used_; }
    template <typename F>
    void ForEach(F f) const {
        for (const Entry& e : slots_)
            if (e.id) f(e);
    }
    // Empties the table, keeping its room.
    void Clear();

private:
    size_t Home(uint64_t id) const { return static_cast<size_t>((id * 0x9E3779B97F4A7C15ULL) >> shift_); }
    void Grow();

    std::vector<Entry> slots_;
    size_t mask_ = SIZE_MAX;  // slots_.size() - 1
    size_t used_ = 0;
    unsigned shift_ = 64;
};

}  // namespace kestrane
