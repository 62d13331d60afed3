#pragma once
// The database save: the ticked tables re-created in a SQL Server database through the export session,
// each with its keys, constraints and indexes when asked, and the logged rows that pass the kind and
// date filters added to it through the prepared INSERT. Foreign keys follow once every table has its
// rows; a key to a table the run did not create is not sent, and every refused statement is logged with
// the server's message. Stop cancels the statement in flight; a server that does not answer in time
// ends the run with the step named. "Completed" is said only when the server took every table, row and
// statement sent; else the run ends with errors, counted. It reports into the progress dialog
// ("DATABASE LOG" and the bar) and the activity log, asks its questions through the prompter, and sends
// the session's error descriptions to the owner sink.
#include <cstdint>
#include <string>
#include <vector>

#include "export/SaveFilter.h"
#include "export/SaveProgressView.h"
#include "export/SqlExportSession.h"
#include "export/TickedTableWalk.h"
#include "logreader/LogByteSource.h"
#include "logreader/OperationStore.h"
#include "platform/ProgressSink.h"
#include "platform/Prompter.h"
#include "platform/RunState.h"

namespace kestrane {

class CDbFileHolder;

struct DatabaseSaveOptions {
    SaveFilter filter;                // kinds and date ranges
    SqlConnectionFields connection;   // database, user (empty: integrated login), password, server, driver
    bool saveConstraints = false;
    bool saveIntoExistingDatabase = false;
};

// What the run left, for its caller.
struct DatabaseSaveResult {
    bool databaseReady = false;             // the database was created or opened
    uint64_t rowsAdded = 0;                 // rows the server took
    std::vector<std::wstring> tablesCreated;  // in the order they were created
    // What the server did not take: any of them ends the run "with errors", not "completed".
    uint64_t tablesNotCreated = 0;
    uint64_t rowsNotSaved = 0;        // refused, or not sent once the connection was lost
    uint64_t statementsRefused = 0;   // keys, constraints, indexes
    bool stopped = false;             // Stop ended the run
};

class DatabaseSaveRun {
public:
    // `log` is the open log file the operations were scanned from; `owner` receives the error
    // descriptions that the main dialog shows in an error box.
    DatabaseSaveRun(RunState& state, CDbFileHolder& holder, const OperationStore& store, const LogByteSource& log,
                    SaveProgressView& view, Prompter& prompter, ProgressSink& owner)
        : state_(state), holder_(holder), store_(store), log_(log), view_(view), prompter_(prompter), owner_(owner) {}

    // How long the login and each statement may wait for the server.
    void SetTimeouts(const SqlTimeouts& timeouts) { timeouts_ = timeouts; }
    // Saves the ticked tables; items without a table (object id 0, as "All") are passed over.
    DatabaseSaveResult Run(const std::vector<TickedTable>& tables, const DatabaseSaveOptions& options);

private:
    RunState& state_;
    CDbFileHolder& holder_;
    const OperationStore& store_;
    const LogByteSource& log_;
    SaveProgressView& view_;
    Prompter& prompter_;
    ProgressSink& owner_;
    SqlTimeouts timeouts_;
};

}  // namespace kestrane
