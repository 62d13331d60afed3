#pragma once
// What a save did with each logged operation of the ticked tables, so that the save log accounts for
// every one (kept, or left out and why), and where a stop ended the run.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sqltext/StandInTally.h"

namespace kestrane {

class SaveTally {
public:
    // A new table with `operations` logged operations (the count of its tree label).
    void BeginTable(uint64_t operations);
    // The table's first operation named it.
    void NameTable(const std::wstring& name);
    // One more operation of the table is walked.
    void Walked() { ++table_.walked; }

    void NotOfChosenKind() { ++table_.byKind; }
    // Outside every date range; `beganBeforeLog`: its transaction began before the log (no time).
    void OutsideDateRanges(bool beganBeforeLog);
    void TableNotCreated(uint64_t count = 1) { table_.noTable += count; table_.walked += count - 1; }
    // The operation gave no row to save, for `reason`.
    void NoRow(const std::wstring& reason) { ++table_.noRow[reason]; }
    // Its row could not be written whole (script files).
    void NotWritten() { ++table_.notWritten; }
    // A stop came before its row was written: it counts as not reached.
    void StoppedBeforeRow();
    void Kept() { ++table_.kept; }
    // Values of the kept rows that the files did not give and that were written as stand-ins.
    void StandIns(const StandInTally& standIns) { table_.standIns.Add(standIns); }

    // The table's line when any operation was left out or any value was a stand-in; empty otherwise. The
    // counts of operations add up to the table's operations.
    std::wstring TableLine() const;
    // "Saving process stopped after table X, operation N." for the last operation walked.
    std::wstring StoppedText() const;

private:
    struct Table {
        std::wstring name;
        uint64_t operations = 0, walked = 0, kept = 0, byKind = 0, byDate = 0, beganBeforeLog = 0, noTable = 0,
                 notWritten = 0;
        std::map<std::wstring, uint64_t> noRow;
        StandInTally standIns;
    };
    Table table_;
    std::wstring lastName_;  // the last table with a walked operation, and how many were walked
    uint64_t lastWalked_ = 0;
};

}  // namespace kestrane
