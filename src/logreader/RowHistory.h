#pragma once
// The logged operations of one table in log order, each with the row it touches: the key hash its
// lock element carries, or its page and slot when the rowset has no key (a heap, whose rows keep
// their slot). A change logged without a key lock on a keyed rowset (every row rewritten when a
// column is added) belongs to the keyed row whose keyed changes logged the same key; else to the
// row inserted last at its page and slot, as long as no insert or delete at or before that slot
// has moved the rows there since, and the replay finds the change's key in that row; else to a row
// of its own key. Built once per listing and table, by one read of each of the table's records.
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "logreader/LogByteSource.h"
#include "logreader/LogFormat.h"
#include "logreader/LogRecord.h"

namespace kestrane {

class OperationStore;

// How a change logged without a key lock came to its row.
enum class StepLink : uint8_t {
    Sure,      // a keyed record, or a change whose key a keyed change of the row logged
    SlotOnly,  // by the row's insert at its slot: a step of the row only if the row holds its key
    OwnKey,    // no logged row is surely it: a row of its own key
};

struct RowStep {
    uint64_t blockOffset = 0;
    uint16_t slotIndex = 0;
    uint8_t operation = 0;
    CLogSeqNo lsn;
    // The run of changes this one belongs to (indexes among the row's steps), between the insert
    // before it and the delete after it; set by RowHistory.
    uint32_t runFirst = 0, runLast = 0;
    StepLink link = StepLink::Sure;
};

// Which row a record changes, as one number.
uint64_t LoggedRowIdentity(const RowLogRecord& record);

class RowHistory {
public:
    RowHistory() = default;
    RowHistory(const OperationStore& store, uint64_t allocationUnitId, const LogByteSource& log);

    // The steps on the row of the record at (blockOffset, slotIndex), in log order (kept by the
    // history), and the place of that record among them; nullopt when it is not one of the table's.
    struct RowSteps {
        const std::vector<RowStep>* steps = nullptr;
        size_t target = 0;
    };
    std::optional<RowSteps> StepsOfRow(uint64_t blockOffset, uint16_t slotIndex) const;
    // The row that the record at (blockOffset, slotIndex) changes, as the history groups it.
    std::optional<uint64_t> RowOf(uint64_t blockOffset, uint16_t slotIndex) const {
        const auto at = stepAt_.find(PlaceKey(blockOffset, slotIndex));
        return at == stepAt_.end() ? std::nullopt : std::optional<uint64_t>(at->second.first);
    }

    static uint64_t PlaceKey(uint64_t blockOffset, uint16_t slotIndex) { return blockOffset << 16 | slotIndex; }

private:
    std::unordered_map<uint64_t, std::pair<uint64_t, uint32_t>> stepAt_;  // place -> (row, index)
    std::unordered_map<uint64_t, std::vector<RowStep>> rows_;             // row -> its steps
};

// Sets each step's run of changes.
void MarkChangeRuns(std::vector<RowStep>& steps);

}  // namespace kestrane
