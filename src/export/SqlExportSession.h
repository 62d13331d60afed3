#pragma once
// The export's one road into a SQL Server instance, through an ODBC driver: test a connection, create or
// open the target database, create a table once, run a DDL statement, add a foreign key, and prepare the
// INSERT that the row replay runs once per row with every value a bound parameter.
//
// Every step that talks to the server opens a connection of its own and closes it again, except
// OpenTableForInsert, whose connection stays open for the table's rows until CloseConnection. Every name
// taken from a data file is bracketed with "]" doubled. The password is used to connect and is never
// kept, logged or shown.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "datafile/CatalogRecords.h"
#include "export/LogListSink.h"
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

    // The statement AddForeignKey runs for a foreign key.
    static std::wstring ForeignKeyStatement(const ForeignKeyRecord& foreignKey);

private:
    void Connect(const SqlConnectionFields& fields, bool withDatabase);
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
    std::unique_ptr<OdbcEnvironment> environment_;
    std::unique_ptr<OdbcConnection> connection_;
    // The INSERT of the open table, one prepared text per set of columns left to their default.
    std::wstring insertTable_;
    std::vector<std::wstring> insertColumns_;
    std::vector<std::pair<std::vector<bool>, std::unique_ptr<OdbcStatement>>> inserts_;
};

}  // namespace kestrane
