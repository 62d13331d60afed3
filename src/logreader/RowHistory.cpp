#include "logreader/RowHistory.h"

#include <algorithm>
#include <map>
#include <string>

#include "logreader/LogBlock.h"
#include "logreader/LoggedRowChange.h"
#include "logreader/OperationStore.h"

namespace kestrane {

namespace {
constexpr uint64_t kKeyed = uint64_t{1} << 63;
// The row of a keyless change's own key, apart from keyed rows (a hash below bit 48) and places.
constexpr uint64_t kOwnKey = kKeyed | uint64_t{1} << 62;
constexpr uint64_t kSeveralRows = UINT64_MAX;

uint64_t PagePlace(const RowLogRecord& record) {
    const LogPageId page = record.Page();
    return uint64_t{page.file & 0x7FFFu} << 48 | uint64_t{page.page} << 16 | record.RowSlot();
}

// Whether the row's step last before `lsn` is its delete: a change after it is no step of that life.
bool EndedBefore(const std::vector<RowStep>& steps, const CLogSeqNo& lsn) {
    const auto later = std::lower_bound(steps.begin(), steps.end(), lsn,
                                        [](const RowStep& s, const CLogSeqNo& at) { return s.lsn < at; });
    return later != steps.begin() && std::prev(later)->operation == logfmt::kOpDeleteRow;
}
}  // namespace

uint64_t LoggedRowIdentity(const RowLogRecord& record) {
    if (const auto hash = LoggedKeyHash(record)) return kKeyed | *hash;
    return PagePlace(record);
}

RowHistory::RowHistory(const OperationStore& store, uint64_t allocationUnitId, const LogByteSource& log) {
    const auto objectId = store.ObjectIdOf(allocationUnitId);
    const std::span<const uint32_t> entries = objectId ? store.EntriesOfTable(*objectId) : std::span<const uint32_t>();
    std::vector<uint8_t> buffer;
    std::optional<LogBlockView> block;
    uint64_t blockAt = UINT64_MAX;
    // The keyed row last inserted or changed at each page and slot, in page and slot order.
    struct SlotOwner {
        uint64_t row = 0;
        bool inserted = false;
    };
    std::map<uint64_t, SlotOwner> owners;
    // An insert or a delete moves the rows from its slot on (a delete once its ghost is cleaned up):
    // which row stands there is no longer sure.
    const auto rowsMoveFrom = [&](uint64_t place) {
        owners.erase(owners.lower_bound(place), owners.upper_bound(place | 0xFFFF));
    };
    std::unordered_map<std::string, uint32_t> keyIds;  // logged keys of changes
    std::vector<uint64_t> rowOfKey;                    // by key id: the keyed row whose changes logged it
    const auto keyId = [&](ByteView key) {
        const auto [at, added] = keyIds.try_emplace(std::string(reinterpret_cast<const char*>(key.data()), key.size()),
                                                    static_cast<uint32_t>(rowOfKey.size()));
        if (added) rowOfKey.push_back(0);
        return at->second;
    };
    struct Keyless {
        RowStep step;
        uint32_t key = 0;
        uint64_t inserted = 0;  // the keyed row inserted at its slot, when no move has passed it since
        uint64_t row = 0;       // the row it joins
        uint64_t place = 0;
    };
    std::vector<Keyless> keyless;
    bool keyedTable = false;  // a heap logs no key lock: its rows are their places
    const auto add = [&](uint64_t row, const RowStep& step) {
        std::vector<RowStep>& steps = rows_[row];
        stepAt_.emplace(PlaceKey(step.blockOffset, step.slotIndex), std::make_pair(row, static_cast<uint32_t>(steps.size())));
        steps.push_back(step);
    };
    for (uint32_t index : entries) {
        const OperationEntry& e = store[index];
        // Only row inserts, deletes and changes touch the row's bytes.
        const bool change = e.operation == logfmt::kOpModifyRow || e.operation == logfmt::kOpModifyColumns;
        if (!change && e.operation != logfmt::kOpInsertRow && e.operation != logfmt::kOpDeleteRow) continue;
        if (e.blockOffset != blockAt) {
            blockAt = e.blockOffset;
            block = ReadLogBlock(log, e.blockOffset, buffer);
        }
        if (!block || e.slotIndex >= block->RecordCount()) continue;
        const RowLogRecord record(block->bytes(), block->Extent(e.slotIndex));
        if (record.RowsetId() != allocationUnitId) continue;
        RowStep step{e.blockOffset, e.slotIndex, e.operation, block->header().lsn};
        step.lsn.slot = static_cast<uint16_t>(step.lsn.slot + e.slotIndex);
        const uint64_t place = PagePlace(record);
        const auto hash = LoggedKeyHash(record);
        const ByteView key = LoggedChangeKey(record);
        if (!hash && !key.empty()) {
            // A change logged without the row's key lock (the rewrite of every row when a column is
            // added): its row is chosen once every keyed change of the table is read.
            const auto owner = owners.find(place);
            keyless.push_back(
                {step, keyId(key), owner != owners.end() && owner->second.inserted ? owner->second.row : 0, 0, place});
            continue;
        }
        uint64_t row = hash ? kKeyed | *hash : place;
        keyedTable = keyedTable || hash.has_value();
        // A keyless delete is the keyed row's at its slot.
        if (!hash && e.operation == logfmt::kOpDeleteRow)
            if (const auto owner = owners.find(place); owner != owners.end()) row = owner->second.row;
        if (!change) rowsMoveFrom(place);
        if (hash && e.operation != logfmt::kOpDeleteRow) owners[place] = {row, !change};
        if (hash && !key.empty()) {
            uint64_t& known = rowOfKey[keyId(key)];
            known = known == 0 || known == row ? row : kSeveralRows;
        }
        add(row, step);
    }
    // Each keyless change joins the keyed row whose changes logged its key, unless that row's life
    // had ended before it; else the row inserted at its slot, on the replay's check of the key; else
    // it is a row of its own key.
    const auto livesAt = [&](uint64_t row, const CLogSeqNo& lsn) {
        const auto steps = rows_.find(row);
        return row != 0 && row != kSeveralRows && steps != rows_.end() && !EndedBefore(steps->second, lsn);
    };
    for (Keyless& change : keyless) {
        if (!keyedTable) {
            change.row = change.place;
            continue;
        }
        change.row = rowOfKey[change.key];
        if (!livesAt(change.row, change.step.lsn)) {
            const bool inserted = livesAt(change.inserted, change.step.lsn);
            change.row = inserted ? change.inserted : kOwnKey | change.key;
            change.step.link = inserted ? StepLink::SlotOnly : StepLink::OwnKey;
        }
    }
    std::stable_sort(keyless.begin(), keyless.end(), [](const Keyless& a, const Keyless& b) { return a.row < b.row; });
    const auto inLogOrder = [](const RowStep& a, const RowStep& b) { return a.lsn < b.lsn; };
    for (size_t first = 0, end = 0; first < keyless.size(); first = end) {
        const uint64_t row = keyless[first].row;
        std::vector<RowStep>& steps = rows_[row];
        // Only the steps from the first one joined on move (most join after every keyed step).
        const size_t from = std::upper_bound(steps.begin(), steps.end(), keyless[first].step, inLogOrder) - steps.begin();
        const size_t had = steps.size();
        for (end = first; end < keyless.size() && keyless[end].row == row; ++end) steps.push_back(keyless[end].step);
        std::inplace_merge(steps.begin() + static_cast<std::ptrdiff_t>(from), steps.begin() + static_cast<std::ptrdiff_t>(had),
                           steps.end(), inLogOrder);
        for (size_t i = from; i < steps.size(); ++i)
            stepAt_.insert_or_assign(PlaceKey(steps[i].blockOffset, steps[i].slotIndex),
                                     std::make_pair(row, static_cast<uint32_t>(i)));
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
