#include "logreader/UpdateRowReplay.h"

#include <algorithm>
#include <cstring>

#include "logreader/LogBlock.h"
#include "logreader/LoggedRowChange.h"

namespace kestrane {

namespace {
constexpr uint8_t kIndexRowHasNullBitmap = 0x10, kIndexRowHasVariable = 0x20;
constexpr size_t kMaxKeyColumns = 64;

// The fixed key bytes of a key element (status byte, the key's fixed bytes, column count, NULL
// bitmap); empty when the key has a variable part, since its bytes then do not stand together in the row.
ByteView FixedKeyBytes(ByteView key) {
    const uint8_t status = key.getOr<uint8_t>(0, 0);
    if (key.size() < 2 || (status & kIndexRowHasVariable)) return {};
    if (!(status & kIndexRowHasNullBitmap)) return key.from(1);
    for (size_t count = key.size() - 2; count >= 2; --count) {
        const size_t columns = key.getOr<uint16_t>(count, 0);
        if (columns >= 1 && columns <= kMaxKeyColumns && count + 2 + (columns + 7) / 8 == key.size())
            return key.sub(1, count - 1);
    }
    return {};
}

// Whether the fixed part of a data row holds the key bytes.
bool HoldsKey(ByteView row, ByteView key) {
    const size_t fixedEnd = std::min<size_t>(row.getOr<uint16_t>(2, 0), row.size());
    if (key.empty()) return true;
    if (fixedEnd < 4 + key.size()) return false;
    return std::search(row.data() + 4, row.data() + fixedEnd, key.data(), key.data() + key.size()) !=
           row.data() + fixedEnd;
}

// Whether `row` holds the fixed key bytes that a change record logs; false when it logs none.
bool HoldsLoggedKey(ByteView row, const RowLogRecord& change) {
    const ByteView key = FixedKeyBytes(LoggedChangeKey(change));
    return !key.empty() && HoldsKey(row, key);
}

constexpr size_t kHdrSlotCount = 22;
constexpr int kMaxSlots = 3999;

size_t SlotCount(ByteView page) {
    const int count = page.getOr<int16_t>(kHdrSlotCount, 0);
    return count > 0 && count <= kMaxSlots ? static_cast<size_t>(count) : 0;
}

// The stored row of a page's slot; empty when the slot holds no data row.
ByteView SlotRow(ByteView page, size_t slot) {
    if (slot >= SlotCount(page)) return {};
    const size_t at = page.getOr<uint16_t>(kPageSize - 2 - 2 * slot, 0);
    if (at < kPageHeaderSize) return {};
    const ByteView row = page.from(at);
    const uint8_t type = (row.getOr<uint8_t>(0, 0xFF) >> 1) & 0x07;
    if (type != 0 && type != 1 && type != 6) return {};  // data, forwarded or ghost data row
    return row.sub(0, StoredRowLength(row));
}
}  // namespace

std::wstring RowRebuildFailureText(RowRebuildFailure failure) {
    switch (failure) {
        case RowRebuildFailure::RecordUnreadable:
            return L"The row cannot be rebuilt: its log record is damaged.";
        case RowRebuildFailure::NoStartingRow:
            return L"The row cannot be rebuilt: its page no longer holds it and the log holds no whole copy of it.";
        case RowRebuildFailure::BytesDiffer:
            return L"The row cannot be rebuilt: the logged bytes do not match the row.";
        case RowRebuildFailure::NoSureRow:
            return L"The row cannot be rebuilt: its change was logged without the row's key lock, and no row is surely "
                   L"the one it changed.";
        default:
            return {};
    }
}

bool UpdateRowReplay::Load(const RowStep& step) {
    // A walk meets several steps of one block in a row: the block is read once for them.
    if (step.blockOffset != loadedAt_) {
        loaded_ = ReadLogBlock(log_, step.blockOffset, block_);
        loadedAt_ = step.blockOffset;
        ++cost_.blockReads;
    }
    if (!loaded_ || step.slotIndex >= loaded_->RecordCount()) return false;
    record_ = RowLogRecord(loaded_->bytes(), loaded_->Extent(step.slotIndex));
    return record_.Operation() == step.operation;
}

RowRebuildFailure UpdateRowReplay::FromPage(const std::vector<RowStep>& steps, size_t first, size_t last, Row& row) {
    if (!Load(steps[last])) return RowRebuildFailure::RecordUnreadable;
    const LogPageId id = record_.Page();
    if (!pages_.Read(PageAddress(id.file, id.page), page_) || page_.size() < kPageSize)
        return RowRebuildFailure::NoStartingRow;
    const ByteView view(page_.data(), kPageSize);
    CLogSeqNo pageLsn;
    pageLsn.Set(view.getOr<uint32_t>(kHdrLsn, 0), view.getOr<uint32_t>(kHdrLsn + 4, 0),
                view.getOr<uint16_t>(kHdrLsn + 8, 0));
    // A page that holds a later life of the key (inserted again after an unlogged removal) or an
    // earlier one (before the delete that ended it) does not hold this row.
    if (last + 1 < steps.size() && steps[last + 1].lsn <= pageLsn) return RowRebuildFailure::NoStartingRow;
    if (first > 0 && pageLsn < steps[first - 1].lsn) return RowRebuildFailure::NoStartingRow;
    // The last of the row's changes that the page holds already; none when it is older than them all.
    const auto firstNewer = std::upper_bound(steps.begin() + static_cast<std::ptrdiff_t>(first),
                                             steps.begin() + static_cast<std::ptrdiff_t>(last) + 1, pageLsn,
                                             [](const CLogSeqNo& lsn, const RowStep& s) { return lsn < s.lsn; });
    const long long held = static_cast<long long>(firstNewer - steps.begin()) - 1;
    const bool holdsChange = held >= static_cast<long long>(first);
    if (!Load(steps[holdsChange ? static_cast<size_t>(held) : first])) return RowRebuildFailure::RecordUnreadable;
    const auto change = ReadLoggedRowChange(record_);
    if (!change) return RowRebuildFailure::RecordUnreadable;
    const ByteView key = FixedKeyBytes(LoggedChangeKey(record_));
    std::vector<uint8_t> scratch;
    const auto isTheRow = [&](ByteView candidate) {
        if (candidate.empty() || !HoldsKey(candidate, key)) return false;
        return holdsChange ? UndoRowChange(candidate, *change, scratch) : RedoRowChange(candidate, *change, scratch);
    };
    // The logged slot first; else the one row of the page that fits (the row moved to another slot).
    const size_t logged = record_.RowSlot();
    ByteView found = SlotRow(view, logged);
    if (!isTheRow(found)) {
        found = {};
        int matches = 0;
        for (size_t s = 0; s < SlotCount(view); ++s) {
            const ByteView candidate = s == logged ? ByteView() : SlotRow(view, s);
            if (isTheRow(candidate)) {
                found = candidate;
                ++matches;
            }
        }
        if (matches != 1) return RowRebuildFailure::NoStartingRow;
    }
    row.bytes.assign(found.data(), found.data() + found.size());
    row.after = held;
    return RowRebuildFailure::None;
}

UpdateRows UpdateRowReplay::Replay(const std::vector<RowStep>& steps, size_t target) {
    UpdateRows out = Walk(steps, target);
    // A keyless change that no logged row surely is, whose page does not hold its row either.
    if (out.failure == RowRebuildFailure::NoStartingRow && steps[target].link == StepLink::OwnKey)
        out.failure = RowRebuildFailure::NoSureRow;
    return out;
}

UpdateRows UpdateRowReplay::Walk(const std::vector<RowStep>& steps, size_t target) {
    UpdateRows out;
    if (target >= steps.size()) {
        out.failure = RowRebuildFailure::RecordUnreadable;
        return out;
    }
    // The row's life around the update: the changes between the insert before it and the delete after it.
    const size_t first = steps[target].runFirst, last = steps[target].runLast;
    if (first > target || last < target || last >= steps.size()) {
        out.failure = RowRebuildFailure::RecordUnreadable;
        return out;
    }
    const auto place = [&](size_t s) { return RowHistory::PlaceKey(steps[s].blockOffset, steps[s].slotIndex); };

    Row row;
    const bool deletedLater = last + 1 < steps.size() && steps[last + 1].operation == logfmt::kOpDeleteRow;
    const bool insertedBefore = first > 0 && steps[first - 1].operation == logfmt::kOpInsertRow;
    // The row kept from the last replay, when it is of this run and nearer than the start below.
    long long keptAt = -1;
    const size_t startDistance = insertedBefore && !deletedLater ? target - first : last - target;
    if (kept_.runFirst == place(first) && kept_.runLast == place(last) && kept_.index >= first &&
        kept_.index <= last && place(kept_.index) == kept_.step &&
        (kept_.index > target ? kept_.index - target : target - kept_.index) <= startDistance)
        keptAt = static_cast<long long>(kept_.index);
    RunStart& start = starts_[{place(first), place(last)}];
    if (keptAt < 0 && start.failure != RowRebuildFailure::None) {
        out.failure = start.failure;
        return out;
    }
    WalkFailures& walks = keptAt >= 0 ? kept_.walks : start.walks;
    const long long at = static_cast<long long>(target);
    // A walk from the same row that would cross a step known to fail fails there again. (A walk that
    // fails only on the update's own undo is still taken: it gives the row kept for the next one.)
    if (const long long from = keptAt >= 0 ? keptAt : start.after; from != LLONG_MIN) {
        const KnownFailure& known = from > at ? walks.undo : walks.redo;
        if (from > at ? known.step > at && known.step <= from : known.step > from && known.step <= at) {
            out.failure = known.failure;
            return out;
        }
    }

    const auto wholeRow = [&](size_t step, long long after) {
        if (!Load(steps[step])) return false;
        const auto change = ReadLoggedRowChange(record_);
        if (!change) return false;
        row.bytes.assign(change->row.data(), change->row.data() + change->row.size());
        row.after = after;
        return true;
    };
    if (keptAt >= 0) {
        row.bytes = kept_.after;
        row.after = keptAt;
    } else if (deletedLater) {
        if (!wholeRow(last + 1, static_cast<long long>(last))) out.failure = RowRebuildFailure::RecordUnreadable;
    } else if (insertedBefore) {
        if (!wholeRow(first - 1, static_cast<long long>(first) - 1)) out.failure = RowRebuildFailure::RecordUnreadable;
    } else {
        out.failure = FromPage(steps, first, last, row);
    }
    if (keptAt < 0) {
        start.failure = out.failure;
        start.after = row.after;
    }
    if (out.failure != RowRebuildFailure::None) return out;
    // A change joined by its slot alone is a step of this row only when the row holds its key.
    if (steps[target].link == StepLink::SlotOnly) {
        if (!Load(steps[target])) out.failure = RowRebuildFailure::RecordUnreadable;
        else if (!HoldsLoggedKey(ByteView(row.bytes), record_)) out.failure = RowRebuildFailure::NoSureRow;
        if (out.failure != RowRebuildFailure::None) return out;
    }

    std::vector<uint8_t> next;
    const auto step = [&](size_t s, bool undo) {
        ++cost_.stepsApplied;
        if (!Load(steps[s])) return RowRebuildFailure::RecordUnreadable;
        // One joined by its slot alone whose key the row does not hold is another row's: passed over.
        if (steps[s].link == StepLink::SlotOnly && !HoldsLoggedKey(ByteView(row.bytes), record_))
            return RowRebuildFailure::None;
        const auto change = ReadLoggedRowChange(record_);
        if (!change) return RowRebuildFailure::RecordUnreadable;
        const bool fits = undo ? UndoRowChange(row.bytes, *change, next) : RedoRowChange(row.bytes, *change, next);
        if (!fits) return RowRebuildFailure::BytesDiffer;
        row.bytes.swap(next);
        return RowRebuildFailure::None;
    };
    const bool undoing = row.after >= at;
    while (out.failure == RowRebuildFailure::None && row.after != at) {
        const bool undo = row.after > at;
        const long long s = undo ? row.after : row.after + 1;
        out.failure = step(static_cast<size_t>(s), undo);
        if (out.failure != RowRebuildFailure::None) (undo ? walks.undo : walks.redo) = KnownFailure{s, out.failure};
        row.after += undo ? -1 : 1;
    }
    if (out.failure != RowRebuildFailure::None) return out;
    out.after = row.bytes;
    out.failure = step(target, true);
    // The update's own undo is the next step of a walk that undoes; from the row kept now it is the first.
    const KnownFailure ownUndo{at, out.failure};
    if (out.failure != RowRebuildFailure::None && undoing) walks.undo = ownUndo;
    kept_ = Kept{place(first), place(last), place(target), target, out.after, {}};
    if (out.failure == RowRebuildFailure::None) {
        out.before = std::move(row.bytes);
    } else {
        kept_.walks.undo = ownUndo;
        out.after.clear();
    }
    return out;
}

}  // namespace kestrane
