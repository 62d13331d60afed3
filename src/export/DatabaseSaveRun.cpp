#include "export/DatabaseSaveRun.h"

#include <set>

#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "export/ConstraintStatements.h"
#include "export/ObjectDefinitionText.h"
#include "export/OperationRowReplay.h"
#include "export/RowParameters.h"
#include "export/SavedTableNames.h"
#include "export/SaveLog.h"
#include "export/StopWatcher.h"
#include "sqltext/CreateTableText.h"

namespace kestrane {

namespace {

const wchar_t* kMissingFields =
    L"Please Select Sql Server or give Database name or select Provider name to create Database,All are mandatory ";

// A lost connection fails every later row of the table the same way; after a timeout FreeTDS has
// closed it too.
bool ConnectionLost(const OdbcError& error) {
    return error.HasClass("08") || error.TimedOut() || error.stage() != OdbcError::Stage::Execute;
}

// One line of the log: the driver's messages come one a line.
std::wstring OneLine(std::wstring text) {
    for (wchar_t& c : text)
        if (c == L'\r' || c == L'\n') c = L' ';
    while (!text.empty() && text.back() == L' ') text.pop_back();
    return text;
}

// A key, constraint or index statement that the server refused, with its reason, counted.
void LogRefusedStatement(SaveLog& log, const CSqlExportSession& session, const std::wstring& statement,
                         DatabaseSaveResult& result) {
    if (session.LastFailure().empty()) return;
    log.Line(L"Not added: " + statement + L" -- " + session.LastFailure());
    ++result.statementsRefused;
}

// "Saving process ended with errors: ..." when the server did not take everything that was sent; empty
// when it did.
std::wstring EndedWithErrors(const DatabaseSaveResult& result) {
    std::vector<std::wstring> parts;
    if (result.tablesNotCreated != 0)
        parts.push_back(std::to_wstring(result.tablesNotCreated) + L" tables could not be created");
    if (result.rowsNotSaved != 0)
        parts.push_back(std::to_wstring(result.rowsNotSaved) +
                        L" rows were not saved (refused by the server or not sent)");
    if (result.statementsRefused != 0)
        parts.push_back(std::to_wstring(result.statementsRefused) +
                        L" key, constraint or index statements were refused");
    if (parts.empty()) return {};
    std::wstring text = L"Saving process ended with errors: ";
    for (size_t i = 0; i < parts.size(); ++i) text += (i ? L", " : L"") + parts[i];
    return text + L"; " + std::to_wstring(result.rowsAdded) + L" rows were saved. The log says why.";
}

// One table at a time: created at its first operation, then its rows.
class TableSaver : public TickedTableWalk::Handler {
public:
    TableSaver(RunState& state, CMetadataCatalog& catalog, const OperationStore& store, CSqlExportSession& session,
               OperationRowReplay& replay, SaveLog& log, const DatabaseSaveOptions& options, DatabaseSaveResult& result,
               SaveTally& tally)
        : state_(state), catalog_(catalog), store_(store), session_(session), replay_(replay), log_(log),
          options_(options), result_(result), tally_(tally) {}

    void BeginTable(const TickedTable&) override {
        catalog_.tableSchema.clear();
        columns_.clear();
        opened_ = false;
        reported_ = false;
        replay_.ResetAddedRows();
    }

    TickedTableWalk::TableStart FirstOperation(uint32_t objectId, const std::wstring& storedName) override {
        using Start = TickedTableWalk::TableStart;
        table_ = storedName;
        if (session_.ServerUnresponsive()) return Start::Leave;
        columns_ = catalog_.BuildTableLists(objectId, catalog_.ObjectDefinitions());
        const std::wstring tableName = TakeSavedName(names_, objectId, storedName, log_);
        const std::wstring create = BuildCreateTableSql(columns_, tableName, state_);
        if (create.empty()) {
            log_.Line(L"Empty query for table  " + storedName + L" .Table can not be created");
            ++result_.tablesNotCreated;
            return Start::Leave;
        }
        table_ = tableName;
        log_.Line(L"creating table " + tableName + L" ...");
        if (!session_.CreateTableOnce(create, tableName, options_.connection)) {
            if (!session_.LastFailure().empty())
                log_.Line(L"Table " + tableName + L" not created: " + session_.LastFailure());
            ++result_.tablesNotCreated;
            return Start::NotReady;
        }
        result_.tablesCreated.push_back(tableName);
        tableIds_.insert(objectId);
        if (options_.saveConstraints) AddConstraintsAndIndexes();
        opened_ = session_.OpenTableForInsert(tableName, BuildFieldList(columns_), options_.connection);
        if (!opened_ && !session_.LastFailure().empty())
            log_.Line(L"Table " + tableName + L" not opened for its rows: " + session_.LastFailure());
        return Start::Ready;  // also when the table did not open: its rows then fail one by one
    }

    void SaveOperation(const OperationEntry& entry) override {
        if (session_.ServerUnresponsive()) return;
        TableLayout layout{columns_, {}, {}};
        const std::wstring noRow = replay_.ReplayOperationRow(entry.blockOffset, store_.AllocationUnitId(entry), layout,
                                                              entry.slotIndex, session_, entry.operation);
        if (noRow.empty()) tally_.Kept();
        else tally_.NoRow(noRow);
        if (auto failure = replay_.TakeFailure()) {
            // Once per table: why its rows are refused (the activity log has each row).
            const std::wstring text =
                session_.FailureText(*failure, options_.connection, L"inserting rows into table " + table_);
            if (!reported_) log_.Line(L"Rows of table " + table_ + L" not inserted: " + text);
            reported_ = true;
            if (ConnectionLost(*failure)) session_.CloseConnection();
        }
    }

    void EndTable(const TickedTable&, uint64_t) override {
        if (opened_) session_.CloseConnection();
        if (replay_.refusedRows() != 0) {
            const auto& first = replay_.firstRefusal();
            log_.Line(std::to_wstring(replay_.refusedRows()) + L" rows refused: " +
                      (first ? session_.FailureText(*first, options_.connection, L"inserting rows into table " + table_)
                             : replay_.firstRefusalText()));
        }
        result_.rowsAdded += replay_.addedRows();
        result_.rowsNotSaved += replay_.refusedRows();
        log_.Line(L"Total Number of record inserted =  " + std::to_wstring(replay_.addedRows()) + L" .");
        tally_.StandIns(replay_.standIns());
        if (const std::wstring line = tally_.TableLine(); !line.empty()) log_.Line(line);
    }

    // The tables this run created, by object id.
    const std::set<uint32_t>& TableIds() const { return tableIds_; }
    const SavedTableNames& Names() const { return names_; }

private:
    void AddConstraintsAndIndexes() {
        const auto& definitions = catalog_.ObjectDefinitions();
        const auto definitionText = [&](int32_t id) {
            return GetObjectDefinitionText(definitions, std::to_wstring(id), state_.codePage);
        };
        std::vector<std::wstring> refused;
        for (const std::wstring& statement :
             TableConstraintStatements(catalog_, table_, columns_, definitionText, state_, &refused)) {
            if (session_.ServerUnresponsive()) break;
            session_.ExecuteStatement(options_.connection, statement);
            LogRefusedStatement(log_, session_, statement, result_);
        }
        for (const std::wstring& name : refused) log_.Line(RefusedDefinitionLine(table_, name));
        if (session_.ServerUnresponsive()) return;
        for (const std::wstring& statement : TableIndexStatements(catalog_, table_, columns_, state_)) {
            if (state_.stopRequested() || session_.ServerUnresponsive()) break;
            session_.ExecuteStatement(options_.connection, statement);
            LogRefusedStatement(log_, session_, statement, result_);
        }
    }

    RunState& state_;
    CMetadataCatalog& catalog_;
    const OperationStore& store_;
    CSqlExportSession& session_;
    OperationRowReplay& replay_;
    SaveLog& log_;
    const DatabaseSaveOptions& options_;
    DatabaseSaveResult& result_;
    SaveTally& tally_;
    std::wstring table_;
    ColumnDefList columns_;
    bool opened_ = false;
    bool reported_ = false;
    std::set<uint32_t> tableIds_;
    SavedTableNames names_;
};

}  // namespace

DatabaseSaveResult DatabaseSaveRun::Run(const std::vector<TickedTable>& tables, const DatabaseSaveOptions& options) {
    DatabaseSaveResult result;
    state_.blobsToFiles = 0;
    state_.saveInsert = options.filter.saveInsert;
    state_.saveDelete = options.filter.saveDelete;
    state_.saveUpdate = options.filter.saveUpdate;
    state_.dateFilter = options.filter.dateRanges;
    state_.saveConstraints = options.saveConstraints;
    state_.saveIntoExistingDatabase = options.saveIntoExistingDatabase;
    state_.saveAsScript = 0;
    state_.stopFlag = 0;
    state_.saveLogRow = 0;
    const SqlConnectionFields& fields = options.connection;
    if (fields.server.empty() || fields.database.empty() || fields.driver.empty()) {
        prompter_.ShowMessage(kMissingFields, MessageIcon::Error);
        view_.SetFinished();  // the user must still be able to leave
        return result;
    }
    CMetadataCatalog* catalog = holder_.Catalog();
    SaveLog log(state_, view_);
    SaveTally tally;
    CSqlExportSession session(state_, owner_);
    session.SetDatabaseLog(&view_);
    session.SetTimeouts(timeouts_);
    // Stop reaches a worker blocked on the server: the statement in flight is cancelled.
    const StopWatcher watcher(state_, [&session] { session.Cancel(); });
    std::wstring failure;  // why the save failed; "" when it did not
    if (catalog && !session.CreateOrOpenDatabase(fields)) {
        failure = (options.saveIntoExistingDatabase ? L"the database " + fields.database + L" could not be opened: "
                                                    : L"the database " + fields.database + L" could not be created: ") +
                  OneLine(session.LastFailure());
    } else if (catalog) {
        result.databaseReady = true;
        OperationRowReplay replay(holder_, *catalog, state_, log_);
        replay.UseListing(store_);
        TableSaver saver(state_, *catalog, store_, session, replay, log, options, result, tally);
        TickedTableWalk(store_, state_, options.filter, view_, tally).Run(tables, saver);
        // Every table has its rows now, so a key to a table created later in the run is not refused. A
        // key between tables that this run did not both create is not sent.
        if (options.saveConstraints && !state_.stopRequested() && !session.ServerUnresponsive()) {
            const std::set<uint32_t>& created = saver.TableIds();
            for (const std::wstring& statement : CatalogForeignKeyStatements(
                     *catalog, catalog->ObjectDefinitions(), [&](const ForeignKeyDef& key) {
                         return created.count(key.tableId) != 0 && created.count(key.referencedTableId) != 0;
                     }, &saver.Names())) {
                if (state_.stopRequested() || session.ServerUnresponsive()) break;
                if (statement.empty()) continue;
                session.ExecuteStatement(fields, statement);
                LogRefusedStatement(log, session, statement, result);
            }
        }
        if (session.ServerUnresponsive())
            failure = L"the server does not answer, the save ends here; " + std::to_wstring(result.rowsAdded) +
                      L" rows were saved before.";
    }
    // Anything but "completed" is the log's last line, its end and the message.
    const auto endWith = [&](const std::wstring& end, MessageIcon icon) {
        log.Line(end);
        log.EndBlock(end);
        view_.SetFinished();
        prompter_.ShowMessage(end, icon);
        return result;
    };
    // A stop ends the run early: say so, and where, instead of "completed".
    result.stopped = state_.stopRequested();
    if (result.stopped) return endWith(tally.StoppedText(), MessageIcon::Information);
    if (!failure.empty()) return endWith(L"Saving process failed: " + failure, MessageIcon::Error);
    // Refused tables, rows or statements: the run did not do what it was asked.
    if (const std::wstring end = EndedWithErrors(result); !end.empty())
        return endWith(end, result.rowsAdded == 0 ? MessageIcon::Error : MessageIcon::Warning);
    log.EndBlock(L"Saving process completed!!!");
    view_.SetFinished();
    prompter_.ShowMessage(L"Saving process completed", MessageIcon::Information);
    return result;
}

}  // namespace kestrane
