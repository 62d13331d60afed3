#pragma once
// The row of a logged update as it was right after the change and right before it. The row's own
// history gives the starting row: the whole row of a later delete, or of an earlier insert, or else
// the row its page holds now (found by the logged slot, or by the key and the logged bytes when the
// row moved). From there every later change is undone newest first, or every earlier one redone
// when the page is older than the change; each step must find the logged bytes where the log
// record says they stand.
#include <climits>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "datafile/PageHeader.h"
#include "logreader/LogBlock.h"
#include "logreader/LogByteSource.h"
#include "logreader/RowHistory.h"

namespace kestrane {

// Where the replay reads the data page of a row: its image as read (kPageSize bytes), or false.
class DataPageImages {
public:
    virtual ~DataPageImages() = default;
    virtual bool Read(PageAddress address, std::vector<uint8_t>& image) = 0;
};

enum class RowRebuildFailure : uint8_t {
    None,
    RecordUnreadable,  // the update's log record (or one of its row's) cannot be read
    NoStartingRow,     // no page row and no logged whole row to start from
    BytesDiffer,       // a logged change does not fit the row it is applied to
    NoSureRow,         // a change logged without the row's key lock that no row surely is
};

// The status text shown for an update whose row cannot be rebuilt; empty for None.
std::wstring RowRebuildFailureText(RowRebuildFailure failure);

struct UpdateRows {
    RowRebuildFailure failure = RowRebuildFailure::None;
    std::vector<uint8_t> after;
    std::vector<uint8_t> before;
};

class UpdateRowReplay {
public:
    UpdateRowReplay(DataPageImages& pages, const LogByteSource& log) : pages_(pages), log_(log) {}

    // `steps` are the row's logged operations in log order, their runs of changes marked
    // (MarkChangeRuns); steps[target] is the update. The row after the last update replayed is kept:
    // the next update of the same run starts from it when that is nearer (a save walks in log order).
    // Where a walk from a starting row failed is remembered, so a later update whose walk from that
    // row would cross the same step fails at once. The pages and the log must not change meanwhile.
    // A keyless change joined by its slot alone (StepLink::SlotOnly) is a step of the row only where
    // the row holds the key it logs: passed over otherwise, and as the update it has no rows.
    UpdateRows Replay(const std::vector<RowStep>& steps, size_t target);
    // Drops the kept row and what was learnt of the runs (another listing).
    void Forget() {
        kept_ = Kept{};
        starts_.clear();
        loadedAt_ = UINT64_MAX;
    }

    // What the replays cost so far: log blocks read, and changes undone or redone.
    struct Cost {
        uint64_t blockReads = 0;
        uint64_t stepsApplied = 0;
    };
    const Cost& Spent() const { return cost_; }

private:
    struct Row {
        std::vector<uint8_t> bytes;
        long long after = -1;  // the row as it stood right after this step
    };
    // The first step that failed on a walk from one starting row, each way (undoing, redoing): a walk
    // from that row that reaches the step fails there again, the same way.
    struct KnownFailure {
        long long step = LLONG_MIN;
        RowRebuildFailure failure = RowRebuildFailure::None;
    };
    struct WalkFailures {
        KnownFailure undo, redo;
    };
    // The starting row a run's replays take when no kept row is nearer: the step it stands after, or
    // why it cannot be had.
    struct RunStart {
        long long after = LLONG_MIN;  // not built yet
        RowRebuildFailure failure = RowRebuildFailure::None;
        WalkFailures walks;
    };
    UpdateRows Walk(const std::vector<RowStep>& steps, size_t target);
    RowRebuildFailure FromPage(const std::vector<RowStep>& steps, size_t first, size_t last, Row& row);
    bool Load(const RowStep& step);

    DataPageImages& pages_;
    const LogByteSource& log_;
    std::vector<uint8_t> block_;
    uint64_t loadedAt_ = UINT64_MAX;  // the block in block_, read once while steps stay in it
    std::optional<LogBlockView> loaded_;
    std::vector<uint8_t> page_;
    struct Kept {
        uint64_t runFirst = UINT64_MAX, runLast = UINT64_MAX, step = UINT64_MAX;  // places in the log
        size_t index = 0;                                                          // of `step`
        std::vector<uint8_t> after;
        WalkFailures walks;
    } kept_;
    std::map<std::pair<uint64_t, uint64_t>, RunStart> starts_;  // by the places of a run's first and last step
    RowLogRecord record_;  // of the last Load, viewing block_
    Cost cost_;
};

}  // namespace kestrane
