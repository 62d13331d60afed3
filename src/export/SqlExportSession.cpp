#include "export/SqlExportSession.h"

#include "platform/OdbcConnection.h"
#include "platform/OdbcConnectionString.h"
#include "platform/OdbcError.h"
#include "platform/OdbcStatement.h"
#include "platform/TextCodec.h"
#include "sqltext/SqlNames.h"

namespace kestrane {

namespace {

void Wipe(std::wstring& text) {
    volatile wchar_t* p = text.data();
    for (size_t i = 0; i < text.size(); ++i) p[i] = 0;
    text.clear();
}

const wchar_t* kProviderHint = L"\r\n whether install it properly or select another provider from Provider: Combobox";
const wchar_t* kFrameworkError = L"Error performing above task.....";

// The server's "Database ... already exists" (1801).
bool AlreadyExists(const OdbcError& error) {
    for (const OdbcDiagnostic& record : error.records())
        if (record.nativeError == 1801) return true;
    return false;
}

}  // namespace

CSqlExportSession::CSqlExportSession(RunState& state, ProgressSink& owner) : state_(state), owner_(owner) {}

CSqlExportSession::~CSqlExportSession() { CloseConnection(); }

void CSqlExportSession::LogTest(const std::wstring& text) {
    const uint32_t row = state_.testLogRow++;
    if (ownerLog_) ownerLog_->AddLine(row, text);
}

void CSqlExportSession::LogDatabase(const std::wstring& text) {
    const uint32_t row = state_.saveLogRow++;
    if (databaseLog_) databaseLog_->AddLine(row, text);
}

void CSqlExportSession::LogOwner(const std::wstring& text) {
    if (ownerLog_) ownerLog_->AddLine(state_.saveLogRow, text);
}

std::wstring CSqlExportSession::ShownDescription(const OdbcError& error, const SqlConnectionFields& fields) {
    std::wstring text = error.Description();
    if (fields.password.empty()) return text;
    for (size_t at = 0; (at = text.find(fields.password, at)) != std::wstring::npos; at += 4)
        text.replace(at, fields.password.size(), L"****");
    return text;
}

std::wstring CSqlExportSession::FailureText(const OdbcError& error, const SqlConnectionFields& fields,
                                            const std::wstring& step) {
    const std::wstring description = ShownDescription(error, fields);
    if (error.Cancelled()) return L"Stopped while " + step + L".";
    if (!error.TimedOut()) return description;
    serverUnresponsive_ = true;
    const bool login = error.stage() == OdbcError::Stage::Connect;
    const int seconds = login ? timeouts_.loginSeconds : timeouts_.statementSeconds;
    return L"The server did not answer within " + std::to_wstring(seconds) + L" seconds while " +
           (login ? L"connecting to it (" + step + L")" : step) + L": " + description;
}

void CSqlExportSession::NoteFailure(const OdbcError& error, const SqlConnectionFields& fields, const std::wstring& step) {
    lastFailure_ = FailureText(error, fields, step);
}

void CSqlExportSession::Connect(const SqlConnectionFields& fields, bool withDatabase) {
    Disconnect();
    lastFailure_.clear();
    if (canceller_.Cancelled())
        throw OdbcError(OdbcError::Stage::Execute, {{"HY008", 0, L"Operation canceled: the save was stopped"}});
    if (!environment_) environment_ = std::make_unique<OdbcEnvironment>();
    connection_ = std::make_unique<OdbcConnection>(*environment_);
    connection_->SetQueryTimeout(timeouts_.statementSeconds);
    connection_->SetCanceller(&canceller_);
    // FreeTDS is told its protocol version; a server that drops the login of one is asked with the next.
    const bool freeTds = fields.driver == L"FreeTDS";
    const auto& versions = FreeTdsProtocolVersions();
    std::optional<OdbcError> first;
    for (size_t v = 0; v < (freeTds ? versions.size() : 1); ++v) {
        std::wstring text = BuildConnectionString(
            {fields.driver, fields.server, withDatabase ? fields.database : std::wstring(), fields.user, fields.password},
            freeTds ? versions[v] : std::wstring());
        try {
            connection_->Open(text, fields.driver, timeouts_.loginSeconds);
            Wipe(text);
            return;
        } catch (const OdbcError& e) {
            Wipe(text);
            if (!first) first = e;
            if (!e.LoginDropped()) break;
        } catch (...) {
            Wipe(text);
            throw;
        }
    }
    throw *first;
}

void CSqlExportSession::Execute(const std::wstring& statement) { connection_->Execute(statement); }

void CSqlExportSession::Disconnect() {
    inserts_.clear();
    insertColumns_.clear();
    insertTable_.clear();
    connection_.reset();
}

void CSqlExportSession::CloseConnection() { Disconnect(); }

bool CSqlExportSession::TestConnection(const SqlConnectionFields& fields) {
    const bool windows = fields.user.empty();
    try {
        LogTest(windows ? L"Opening Connection using windows authentication...."
                        : L"Opening Connection using SqlServer authentication ....");
        Connect(fields, false);
        LogTest(L"Connection is successful");
        if (state_.saveIntoExistingDatabase == 1) {
            LogTest(L"Opening Existing Database.....");
            Execute(L"use " + BracketedName(fields.database));
            LogTest(L"Existing Database Open successfully.");
        } else {
            // Proves that the login may create a database, and leaves none behind.
            LogTest(L"creating Database.....");
            Execute(L"create database " + BracketedName(fields.database));
            LogTest(L"Database created.");
            LogTest(L"Deleting Created Database.....");
            Execute(L"DROP database " + BracketedName(fields.database));
            LogTest(L"Database deleted..");
        }
        LogTest(L"Connection is successful");
        LogTest(L"Closing Connection.....");
        Disconnect();
        LogTest(L"Connection Closed.");
        return true;
    } catch (const OdbcError& e) {
        LogTest(FailureText(e, fields, L"testing the connection") + L"\n");
    } catch (const std::exception&) {
        LogTest(kFrameworkError);
    }
    Disconnect();
    return false;
}

bool CSqlExportSession::CreateOrOpenDatabase(const SqlConnectionFields& fields) {
    bool opened = false;
    try {
        LogDatabase(fields.user.empty() ? L"Opening Connection using windows authentication...."
                                        : L"Opening Connection using sql server authentication....");
        Connect(fields, false);
        opened = true;
        LogDatabase(L"Connection is successful");
        if (state_.saveIntoExistingDatabase == 1) {
            LogDatabase(L"Opening Existing Database.....");
            Execute(L"use " + BracketedName(fields.database));
            LogDatabase(L"Exisitng Database Open successfully.");
        } else {
            LogDatabase(L"creating Database.....");
            Execute(L"create database " + BracketedName(fields.database));
            LogDatabase(L"Database created.");
        }
        LogDatabase(L"Closing Connection.....");
        Disconnect();
        LogDatabase(L"Connection Closed.");
        return true;
    } catch (const OdbcError& e) {
        const bool existing = state_.saveIntoExistingDatabase == 1;
        NoteFailure(e, fields, (existing ? L"opening database " : L"creating database ") + fields.database);
        const std::wstring description = lastFailure_;
        LogDatabase(description + L"\n");
        // Only a database that exists already lets the run go on; any other refusal (no permission to
        // create one) would leave the tables nowhere to go.
        if (!existing && AlreadyExists(e)) {
            lastFailure_.clear();
            Disconnect();
            return true;
        }
        owner_.ErrorDescription(WideToUtf8(e.DriverMissing() ? description + kProviderHint : description));
        if (opened) Disconnect();
        return false;
    } catch (const std::exception&) {
        lastFailure_ = kFrameworkError;
        LogDatabase(kFrameworkError);
        Disconnect();
        return false;
    }
}

bool CSqlExportSession::CreateTableOnce(const std::wstring& createText, const std::wstring& table,
                                        const SqlConnectionFields& fields) {
    if (table.empty()) return false;
    try {
        Connect(fields, true);
        bool known = false;
        for (const auto& name : createdTables_) known = known || name == table;
        if (!known) {
            // Counted before it runs: a table whose CREATE failed is not tried again in this run.
            createdTables_.push_back(table);
            Execute(createText);
        } else {
            LogOwner(L"table already exist..");
        }
        Disconnect();
        return true;
    } catch (const OdbcError& e) {
        NoteFailure(e, fields, L"creating table " + table);
        LogOwner(lastFailure_ + L"\n");
        Disconnect();
        return false;
    } catch (const std::exception&) {
        Disconnect();
        return false;
    }
}

bool CSqlExportSession::ExecuteStatement(const SqlConnectionFields& fields, const std::wstring& statement) {
    bool result = true;
    try {
        Connect(fields, true);
        Execute(statement);
    } catch (const OdbcError& e) {
        // An object that exists already, a statement the server refuses: passed over, its reason kept.
        NoteFailure(e, fields, L"running: " + statement);
        result = e.Rejected();
    } catch (const std::exception&) {
    }
    Disconnect();
    return result;
}

std::wstring CSqlExportSession::ForeignKeyStatement(const ForeignKeyRecord& key) {
    std::wstring text = L"alter table " + BracketedName(key.referencingTableName);
    text += key.name.empty() ? L"  add foreign key(" : L" add constraint " + BracketedName(key.name) + L" foreign key(";
    text += BracketedName(key.referencingColumnName) + L") references " + BracketedName(key.referencedTableName) + L"(" +
            BracketedName(key.referencedColumnName) + L")";
    if ((key.status & 0x1000) && (key.status & 0x4000))
        text += L" on update cascade on delete cascade";
    else if (key.status & 0x4000)
        text += L" on delete cascade";
    return text;
}

bool CSqlExportSession::AddForeignKey(const ForeignKeyRecord& foreignKey, const SqlConnectionFields& fields) {
    bool result = true;
    try {
        const std::wstring statement = ForeignKeyStatement(foreignKey);
        Connect(fields, true);
        Execute(statement);
    } catch (const OdbcError& e) {
        NoteFailure(e, fields, L"adding a foreign key");
        result = e.Rejected();
    } catch (const std::exception&) {
        result = false;
    }
    Disconnect();
    return result;
}

bool CSqlExportSession::OpenTableForInsert(const std::wstring& table, const std::vector<std::wstring>& columnNames,
                                           const SqlConnectionFields& fields) {
    try {
        Connect(fields, true);
        if (state_.identityColumnSeen == 1) Execute(L"SET IDENTITY_INSERT " + BracketedName(table) + L" ON");
        insertTable_ = table;
        insertColumns_ = columnNames;
        if (!columnNames.empty()) InsertRow(std::vector<SqlRowValue>());  // prepares the all-values text
        return true;
    } catch (const OdbcError& e) {
        NoteFailure(e, fields, L"preparing the rows of table " + table);
        Disconnect();
        return false;
    } catch (const std::exception&) {
        Disconnect();
        return false;
    }
}

void CSqlExportSession::InsertRow(const std::vector<SqlRowValue>& row) {
    const bool prepareOnly = row.empty();
    if (!connection_ || !connection_->IsOpen() || insertColumns_.empty())
        throw OdbcError(OdbcError::Stage::Execute, {{"08003", 0, L"No table is open for inserting rows"}});
    if (!prepareOnly && row.size() != insertColumns_.size())
        throw OdbcError(OdbcError::Stage::Execute,
                        {{"07002", 0, L"The row holds " + std::to_wstring(row.size()) + L" values for " +
                                          std::to_wstring(insertColumns_.size()) + L" columns"}});
    std::vector<bool> defaults(insertColumns_.size(), false);
    std::vector<OdbcValue> values;
    values.reserve(row.size());
    for (size_t i = 0; i < row.size(); ++i) {
        if (row[i]) values.push_back(*row[i]);
        else defaults[i] = true;
    }
    OdbcStatement* statement = nullptr;
    for (auto& [mask, prepared] : inserts_)
        if (mask == defaults) statement = prepared.get();
    if (!statement) {
        // The names come from the data file; the values only ever go as parameters.
        std::wstring names, markers;
        for (size_t i = 0; i < insertColumns_.size(); ++i) {
            names += (i ? L"," : L"") + BracketedName(insertColumns_[i]);
            markers += (i ? L"," : L"") + std::wstring(defaults[i] ? L"DEFAULT" : L"?");
        }
        auto prepared = std::make_unique<OdbcStatement>(*connection_);
        prepared->Prepare(L"INSERT INTO " + BracketedName(insertTable_) + L" (" + names + L") VALUES (" + markers + L")");
        statement = prepared.get();
        inserts_.emplace_back(defaults, std::move(prepared));
    }
    if (!prepareOnly) statement->Execute(values);
}

}  // namespace kestrane
