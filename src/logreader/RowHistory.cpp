#include "logreader/RowHistory.h"

#include "logreader/LogBlock.h"
#include "logreader/LoggedRowChange.h"
#include "logreader/OperationStore.h"

namespace kestrane {

namespace {
uint64_t PagePlace(const RowLogRecord& record) {
    const LogPageId page = record.Page();
    return uint64_t{page.file & 0x7FFFu} << 48 | uint64_t{page.page} << 16 | record.RowSlot();
}
}  // namespace

uint64_t LoggedRowIdentity(const RowLogRecord& record) {
    constexpr uint64_t kKeyed = uint64_t{1} << 63;
    if (const auto hash = LoggedKeyHash(record)) return kKeyed | *hash;
    return PagePlace(record);
}

RowHistory::RowHistory(const OperationStore& store, uint64_t allocationUnitId, const LogByteSource& log) {
    const auto objectId = store.ObjectIdOf(allocationUnitId);
    const std::span<const uint32_t> entries = objectId ? store.EntriesOfTable(*objectId) : std::span<const uint32_t>();
    std::vector<uint8_t> buffer;
    std::optional<LogBlockView> block;
    uint64_t blockAt = UINT64_MAX;
    std::unordered_map<uint64_t, uint64_t> keyedAt;  // page and slot -> the keyed row last logged there
    for (uint32_t index : entries) {
        const OperationEntry& e = store[index];
        // Only row inserts, deletes and changes touch the row's bytes.
        if (e.operation != logfmt::kOpInsertRow && e.operation != logfmt::kOpDeleteRow &&
            e.operation != logfmt::kOpModifyRow && e.operation != logfmt::kOpModifyColumns)
            continue;
        if (e.blockOffset != blockAt) {
            blockAt = e.blockOffset;
            block = ReadLogBlock(log, e.blockOffset, buffer);
        }
        if (!block || e.slotIndex >= block->RecordCount()) continue;
        const RowLogRecord record(block->bytes(), block->Extent(e.slotIndex));
        if (record.RowsetId() != allocationUnitId) continue;
        RowStep step{e.blockOffset, e.slotIndex, e.operation, block->header().lsn};
        step.lsn.slot = static_cast<uint16_t>(step.lsn.slot + e.slotIndex);
        uint64_t row = LoggedRowIdentity(record);
        // A change logged without the row's key lock (the rewrite of every row when a column is added)
        // is the change of the keyed row last logged at its page and slot.
        const uint64_t place = PagePlace(record);
        if (row == place) {
            if (const auto owner = keyedAt.find(place); owner != keyedAt.end()) row = owner->second;
        } else if (e.operation == logfmt::kOpDeleteRow) {
            keyedAt.erase(place);
        } else {
            keyedAt[place] = row;
        }
        std::vector<RowStep>& steps = rows_[row];
        stepAt_.emplace(PlaceKey(e.blockOffset, e.slotIndex), std::make_pair(row, static_cast<uint32_t>(steps.size())));
        steps.push_back(step);
    }
    for (auto& [row, steps] : rows_) MarkChangeRuns(steps);
}

void MarkChangeRuns(std::vector<RowStep>& steps) {
    const auto isRowEnd = [](uint8_t op) { return op == logfmt::kOpInsertRow || op == logfmt::kOpDeleteRow; };
    for (size_t s = 0; s < steps.size();) {
        size_t end = s;
        while (end + 1 < steps.size() && !isRowEnd(steps[end + 1].operation) && !isRowEnd(steps[s].operation)) ++end;
        for (size_t k = s; k <= end; ++k) {
            steps[k].runFirst = static_cast<uint32_t>(s);
            steps[k].runLast = static_cast<uint32_t>(end);
        }
        s = end + 1;
    }
}

std::optional<RowHistory::RowSteps> RowHistory::StepsOfRow(uint64_t blockOffset, uint16_t slotIndex) const {
    const auto at = stepAt_.find(PlaceKey(blockOffset, slotIndex));
    if (at == stepAt_.end()) return std::nullopt;
    return RowSteps{&rows_.at(at->second.first), at->second.second};
}

}  // namespace kestrane
