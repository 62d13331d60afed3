#pragma once
// The export's one road into a SQL Server instance, through an ODBC driver: test a connection, create or
// open the target database, create a table once, run a DDL statement, add a foreign key, and prepare the
// INSERT that the row replay runs once per row with every value a bound parameter.
//
// Every step that talks to the server opens a connection of its own and closes it again, except
// OpenTableForInsert, whose connection stays open for the table's rows until CloseConnection. Every name
// taken from a data file is bracketed with "]" doubled. The password is used to connect and is never
// kept, logged or shown.
//
// No step waits for ever: logins and statements have timeouts, and Cancel (from another thread) ends
// the statement in flight and refuses every later step. Once the server has failed to answer in time,
// ServerUnresponsive() tells the run to stop asking it.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "datafile/CatalogRecords.h"
#include "export/LogListSink.h"
#include "platform/OdbcCanceller.h"
#include "platform/OdbcValue.h"
#include "platform/ProgressSink.h"
#include "platform/RunState.h"

namespace kestrane {

class OdbcConnection;
class OdbcEnvironment;
class OdbcError;
class OdbcStatement;

// The five connection fields of the run state; `driver` stands where the provider stood.
struct SqlConnectionFields {
    std::wstring database;
    std::wstring user;  // empty: integrated (Windows) authentication
    std::wstring password;
    std::wstring server;
    std::wstring driver;
};

// How long a step waits for the server: the login (connecting included), and each statement.
struct SqlTimeouts {
    int loginSeconds = 15;
    int statementSeconds = 120;
};

// One value of a row to insert; nullopt leaves the column to its default.
using SqlRowValue = std::optional<OdbcValue>;

class CSqlExportSession {
public:
    // `owner` receives the error descriptions (WM_USER+7); the logs are set by the creator.
    CSqlExportSession(RunState& state, ProgressSink& owner);
    ~CSqlExportSession();
    CSqlExportSession(const CSqlExportSession&) = delete;
    CSqlExportSession& operator=(const CSqlExportSession&) = delete;

    // The owner dialog's list: "TEST LOG" for the connection test, list 1004 for the save run.
    void SetOwnerLog(LogListSink* ownerLog) { ownerLog_ = ownerLog; }
    // The progress dialog's "DATABASE LOG".
    void SetDatabaseLog(LogListSink* databaseLog) { databaseLog_ = databaseLog; }
    void SetTimeouts(const SqlTimeouts& timeouts) { timeouts_ = timeouts; }
    // From any thread (Stop): ends the statement in flight and every later step.
    void Cancel() { canceller_.Cancel(); }
    bool ServerUnresponsive() const { return serverUnresponsive_; }
    // Why the last step failed as a user may read it ("" when it did not fail), e.g. the server's
    // message for a refused CREATE TABLE or constraint statement.
    const std::wstring& LastFailure() const { return lastFailure_; }

    bool TestConnection(const SqlConnectionFields& fields);
    bool CreateOrOpenDatabase(const SqlConnectionFields& fields);
    bool CreateTableOnce(const std::wstring& createText, const std::wstring& table, const SqlConnectionFields& fields);
    bool ExecuteStatement(const SqlConnectionFields& fields, const std::wstring& statement);
    bool AddForeignKey(const ForeignKeyRecord& foreignKey, const SqlConnectionFields& fields);
    // Connects with the database, turns IDENTITY_INSERT on when the table's text had an identity column,
    // and prepares "INSERT INTO [table] ([c1],...) VALUES (?,...)" over the exported columns' names.
    bool OpenTableForInsert(const std::wstring& table, const std::vector<std::wstring>& columnNames,
                            const SqlConnectionFields& fields);
    // Runs the prepared INSERT with one value per column, in the columns' order. Throws OdbcError when
    // the server refuses the row (IntegrityViolation() for a broken key or constraint) or when no table
    // is open for inserting.
    void InsertRow(const std::vector<SqlRowValue>& row);
    // Ends the table: drops the prepared INSERT and closes the connection.
    void CloseConnection();

    const std::vector<std::wstring>& createdTables() const { return createdTables_; }

    // The error's text as it may be shown: the password, should a driver ever echo it, is masked.
    static std::wstring ShownDescription(const OdbcError& error, const SqlConnectionFields& fields);
    // ShownDescription, led by the step (e.g. "creating table T") when the server did not answer in
    // time or the step was stopped. Notes a timeout for ServerUnresponsive().
    std::wstring FailureText(const OdbcError& error, const SqlConnectionFields& fields, const std::wstring& step);

    // The statement AddForeignKey runs for a foreign key.
    static std::wstring ForeignKeyStatement(const ForeignKeyRecord& foreignKey);

private:
    void Connect(const SqlConnectionFields& fields, bool withDatabase);
    void NoteFailure(const OdbcError& error, const SqlConnectionFields& fields, const std::wstring& step);
    void Execute(const std::wstring& statement);
    void Disconnect();
    void LogTest(const std::wstring& text);
    void LogDatabase(const std::wstring& text);
    void LogOwner(const std::wstring& text);

    RunState& state_;
    ProgressSink& owner_;
    LogListSink* ownerLog_ = nullptr;
    LogListSink* databaseLog_ = nullptr;
    std::vector<std::wstring> createdTables_;
    SqlTimeouts timeouts_;
    OdbcCanceller canceller_;
    bool serverUnresponsive_ = false;
    std::wstring lastFailure_;
    std::unique_ptr<OdbcEnvironment> environment_;
    std::unique_ptr<OdbcConnection> connection_;
    // The INSERT of the open table, one prepared text per set of columns left to their default.
    std::wstring insertTable_;
    std::vector<std::wstring> insertColumns_;
    std::vector<std::pair<std::vector<bool>, std::unique_ptr<OdbcStatement>>> inserts_;
};

}  // namespace kestrane
