#pragma once
// The open transactions of one stretch of the log by id, with the name and begin time of their
// begin-transaction record. A busy log interleaves many short transactions and the table is asked
// once per filed record, so it is one flat array probed in place, and a transaction leaves it when
// it ends: the table stays as small as the transactions open at once.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrane {

class TransactionTable {
public:
    struct Entry {
        uint64_t id = 0;  // 0: a free slot (a record of no transaction carries id 0)
        uint64_t beginTime = 0;
        uint32_t nameId = 0;
    };

    // The entry of `id` (not 0), or null.
    const Entry* Find(uint64_t id) const;
    // A begin-transaction record of `id`: open with this name and time.
    void Begin(uint64_t id, uint32_t nameId, uint64_t beginTime);
    // A commit or abort record of `id`.
    void End(uint64_t id);

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
    size_t used_ = 0;
    unsigned shift_ = 64;
};

}  // namespace kestrane
