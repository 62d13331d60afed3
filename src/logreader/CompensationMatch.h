#pragma once
// Finds the row operations that compensation records undo, where the walk could not: a compensation
// record names the record before the undone one in its transaction (the next one to undo) and the
// previous change of its page; the undone record is the change of the same transaction, on the
// page's chain of changes, whose previous record is that one. The chain is followed back, over what
// an earlier compensation record of the same transaction already undid.
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "logreader/LogByteSource.h"
#include "logreader/VlfWalker.h"

namespace kestrane {

// A record's place as the entries name it: the file offset of its block and its slot index.
using RecordPlace = std::pair<uint64_t, uint16_t>;

// The places of the records undone by `compensations` (whose chains the walk left at the edge of
// their block), sorted. `vlfOffsets` maps the sequence number of each VLF walked to its offset in the
// file; `undoneBy` holds what the walk found in the blocks themselves and grows with what is found
// here. Each chain is followed for at most CompensationRecord::kMaxSteps steps, and the blocks read
// are bounded by the blocks walked: a record further away is not found.
std::vector<RecordPlace> FindUndoneRecords(const LogByteSource& source, const std::map<uint32_t, uint64_t>& vlfOffsets,
                                           std::vector<CompensationRecord> compensations, UndoneBy& undoneBy,
                                           uint64_t blocksWalked);

}  // namespace kestrane
