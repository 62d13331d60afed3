#pragma once
// Which logged operations a save keeps: by kind (the save options' INSERT, DELETE and UPDATE boxes) and
// by the begin time of their transaction (the date ranges; none means every date).
#include <cstdint>
#include <vector>

#include "platform/OleDate.h"
#include "platform/RunState.h"

namespace kestrane {

struct SaveFilter {
    bool saveInsert = false;
    bool saveDelete = false;
    bool saveUpdate = false;
    std::vector<DateRange> dateRanges;

    // Operation 2 needs INSERT, 3 DELETE, 4 and 6 UPDATE; other operations are never saved.
    bool KeepsKind(uint8_t operation) const;
    // True when no range is set, or the date lies in one of them, both ends included.
    bool KeepsDate(const COleDateTime& date) const { return IsInDateFilter(dateRanges, date); }
    // A failed date never passes a set filter.
    static bool IsInDateFilter(const std::vector<DateRange>& ranges, const COleDateTime& date);
};

// Begin time 0: the operation's transaction began before the log, which gives no time.
inline bool BeganBeforeLog(uint64_t beginTime) { return beginTime == 0; }

// The date of a transaction's begin time (its 8 datetime bytes) to the second, as the operations list
// shows it; invalid when the bytes hold no date or the transaction began before the log.
COleDateTime OperationBeginDate(uint64_t beginTime);

}  // namespace kestrane
