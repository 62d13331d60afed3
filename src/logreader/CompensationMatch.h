#pragma once
// Finds the row operations that compensation records undo. A compensation record names the record
// before the undone one in its transaction (the next one to undo) and the previous change of its
// page; the undone record is the change of the same transaction, on the page's chain of changes,
// whose previous record is that one. The chain is followed back, over what an earlier compensation
// record of the same transaction already undid: first in the block in hand while walking, then, for
// the chains that leave it, by reading the log by CLogSeqNo once every block is walked. Those walks
// are bounded; a change they do not reach (a busy page) is looked up among the entries by its
// transaction and previous record (`UndoKey`), so no rolled-back change stays listed.
#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "logreader/LogByteSource.h"
#include "logreader/LogFormat.h"
#include "logreader/LogRecord.h"

namespace kestrane {

// A record's place as the entries name it: the file offset of its block and its slot index.
using RecordPlace = std::pair<uint64_t, uint16_t>;

// A compensation record of a user table's row whose undone record is looked for.
struct CompensationRecord {
    static constexpr uint32_t kMaxSteps = 256;  // along the chain: a record further back is looked up by key

    CLogSeqNo lsn;       // its own
    CLogSeqNo undoNext;  // the record before the undone one in its transaction
    CLogSeqNo next;      // the next change of the page's chain to look at
    uint64_t transaction = 0;
    uint32_t steps = 0;  // taken so far
};
// Compensation record -> the record it undid.
using UndoneBy = std::map<CLogSeqNo, CLogSeqNo>;

// A record found by its CLogSeqNo.
struct FoundRecord {
    RecordPlace place;
    LogRecordHead head;
};

enum class ChainEnd {
    Found,  // the undone record: at `place`, and noted in `undoneBy`
    Left,   // `read` cannot reach c.next (outside the block in hand): go on elsewhere from there
    Lost,   // the chain ends, does not go back, or its steps are spent: not found
};

// Follows c's chain with read(lsn, outside) -> std::optional<FoundRecord> (nullopt, with `outside` set
// when the record lies beyond what read can see); each step costs one of `budget`, and a spent
// budget counts as Left.
template <typename Read>
ChainEnd FollowChain(CompensationRecord& c, UndoneBy& undoneBy, uint64_t& budget, Read read, RecordPlace& place) {
    while (c.steps < CompensationRecord::kMaxSteps) {
        const CLogSeqNo at = c.next;
        if (!(at < c.lsn)) return ChainEnd::Lost;
        if (budget == 0) return ChainEnd::Left;
        bool outside = false;
        const std::optional<FoundRecord> found = read(at, outside);
        if (outside) return ChainEnd::Left;
        if (!found) return ChainEnd::Lost;
        --budget;
        ++c.steps;
        const LogRecordHead& h = found->head;
        CLogSeqNo back = h.PagePrevious();
        if (h.IsCompensation()) {
            // What an earlier compensation record of this transaction undid, and the changes
            // between, are later than the record looked for: go on from before it.
            auto earlier = h.TransactionId() == c.transaction ? undoneBy.find(at) : undoneBy.end();
            if (earlier != undoneBy.end()) {
                const std::optional<FoundRecord> undid = read(earlier->second, outside);
                if (outside) return ChainEnd::Left;  // c.next stays at this compensation record
                if (undid) back = undid->head.PagePrevious();
            }
        } else if (h.TransactionId() == c.transaction && h.Previous() == c.undoNext) {
            undoneBy.emplace(c.lsn, at);
            place = found->place;
            return ChainEnd::Found;
        }
        if (!(back < at)) return ChainEnd::Lost;  // a chain of changes only goes back
        c.next = back;
    }
    return ChainEnd::Lost;
}

// A change's transaction and the record before it in that transaction, as one number: the change a
// compensation record undoes has the key of the compensation record's transaction and undo-next.
uint64_t UndoKey(uint64_t transaction, const CLogSeqNo& previous);

// The keys of the changes that `compensations` undo, for a quick test of every entry.
class UndoKeyFilter {
public:
    explicit UndoKeyFilter(const std::vector<CompensationRecord>& compensations);
    bool MayHold(uint64_t key) const {
        const uint64_t bit = key & (kBits - 1);
        return (bits_[bit / 64] >> (bit % 64) & 1) != 0 && std::binary_search(keys_.begin(), keys_.end(), key);
    }

private:
    static constexpr uint64_t kBits = uint64_t{1} << 16;
    std::vector<uint64_t> bits_;
    std::vector<uint64_t> keys_;  // sorted
};

// The places of the records undone by `compensations` (whose chains the walk did not follow to their
// end in their block), sorted. `vlfOffsets` maps the sequence number of each VLF walked to its offset
// in the file; `undoneBy` holds what the walk found in the blocks themselves and grows with what is
// found here. The chain walks are bounded by the size of the log; a compensation record whose walk
// does not find its change takes the latest of `candidates` (the places of the entries whose key a
// compensation record looks for) before it whose record is a change of its transaction following
// its undo-next and that nothing undid yet. `steps` counts the records and candidates looked at.
std::vector<RecordPlace> FindUndoneRecords(const LogByteSource& source, const std::map<uint32_t, uint64_t>& vlfOffsets,
                                           std::vector<CompensationRecord> compensations, UndoneBy& undoneBy,
                                           uint64_t blocksWalked, std::vector<RecordPlace> candidates,
                                           uint64_t& steps);

}  // namespace kestrane
