#pragma once
// The two save runs as the save worker starts them: into a SQL Server database, or as a script folder.
// Both run on the worker's thread, read the save options from the run state and report through the
// progress window.
#include <cstdint>
#include <string>
#include <vector>

#include "export/SaveProgressView.h"
#include "platform/RunState.h"

namespace kestrane {

// A ticked tree item other than the database root: its data (a table's object id, 0 for "All[n]") and
// its label ("name[count]").
struct TickedTreeItem {
    uint32_t data = 0;
    std::wstring label;
};

class SaveRuns {
public:
    virtual ~SaveRuns() = default;
    virtual void SaveToDatabase(const std::vector<TickedTreeItem>& items, SaveProgressView& view) = 0;
    virtual void SaveAsScripts(const std::vector<TickedTreeItem>& items, SaveProgressView& view) = 0;
};

// The save worker's body: the chosen run, then the window's end state (Close enabled) whatever the run
// did, so that the user can always leave. A failure that escapes the run becomes a log line.
void RunSaveWorker(SaveRuns& runs, RunState& state, bool asScript, const std::vector<TickedTreeItem>& items, SaveProgressView& view);

}  // namespace kestrane
