#pragma once
// The script save: the logged rows of the ticked tables as a folder of T-SQL scripts that a user carries
// to any server, and two batch files that run them with sqlcmd ("mainsqlscript.bat" on Windows,
// "mainsqlscript.sh" on Linux). In the chosen folder, a folder named after the database holds:
//   <D>.sql                          drop and create of the database ($(DBNAME))
//   userdefinedatatype.sql           the user-defined types, when there are any
//   Tables/<T>/<T>.sql               per table: CREATE TABLE, constraints and indexes, INSERT rows
//   Tables/<T>/<T><len><n>.sql       continuation files past 1,000,000,000 bytes
//   Tables/<T>/maintablescript.sql   the ":r" list of the table's files (what the batch files run)
//   Blob_<T>/<N>_blob                binary large values, read by the scripts through $(DIR)
//   Functions/, Views/, Storeprocedure/, Triggers/   module scripts
//   altertablecommandforeignkeys/<i>.sql  (altertablecommandPrimarykeys/<i>.sql for a legacy catalogue)
//   mainsqlscript.bat, mainsqlscript.sh
// Every .sql file is UTF-16LE with FF FE. Paths inside the scripts use "/", which sqlcmd resolves on
// Linux and on Windows.
#include <cstdint>
#include <string>
#include <vector>

#include "export/SaveFilter.h"
#include "export/SaveProgressView.h"
#include "export/TickedTableWalk.h"
#include "logreader/LogByteSource.h"
#include "logreader/OperationStore.h"
#include "platform/Prompter.h"
#include "platform/RunState.h"
#include "sqltext/InsertScript.h"

namespace kestrane {

class CDbFileHolder;

struct ScriptSaveOptions {
    SaveFilter filter;          // kinds and date ranges
    std::wstring scriptFolder;  // the folder chosen in the save options
    bool saveConstraints = false;
};

// What the run left, for its caller.
struct ScriptSaveResult {
    std::wstring folder;           // the database's folder; "" when the run did not start
    std::wstring batchFilePath;    // the batch file for this platform; "" when the batch files could not be made
    uint64_t rowsWritten = 0;
    std::vector<std::wstring> failedFiles;  // files that could not be written whole
    bool stopped = false;                   // Stop ended the run
};

class ScriptSaveRun {
public:
    // `log` is the open log file the operations were scanned from; `script` the INSERT writer's state,
    // which outlives runs (its continuation counter is never reset).
    ScriptSaveRun(RunState& state, CDbFileHolder& holder, const OperationStore& store, const LogByteSource& log,
                  InsertScriptState& script, SaveProgressView& view, Prompter& prompter)
        : state_(state), holder_(holder), store_(store), log_(log), script_(script), view_(view), prompter_(prompter) {}

    // Writes the folder for the ticked tables; items without a table (object id 0, as "All") are passed over.
    ScriptSaveResult Run(const std::vector<TickedTable>& tables, const ScriptSaveOptions& options);

private:
    RunState& state_;
    CDbFileHolder& holder_;
    const OperationStore& store_;
    const LogByteSource& log_;
    InsertScriptState& script_;
    SaveProgressView& view_;
    Prompter& prompter_;
};

}  // namespace kestrane
