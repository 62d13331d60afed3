#include "export/TableScriptWriter.h"

#include "datafile/MetadataCatalog.h"
#include "export/ConstraintStatements.h"
#include "export/OperationRowScript.h"
#include "export/SavedTableNames.h"
#include "sqltext/CreateTableText.h"
#include "sqltext/ScriptFiles.h"
#include "sqltext/SqlNames.h"

namespace kestrane {

namespace {
constexpr const wchar_t* kDatabaseVariable = L"$(DBNAME)";
const std::wstring kDatabaseVariableName = kDatabaseVariable;  // outlives the table's INSERT writer
}

void TableScriptWriter::BeginTable(const TickedTable&) {
    run_.catalog.tableSchema.clear();
    rows_ = 0;
    ready_ = false;
    fileFailed_ = false;
}

TickedTableWalk::TableStart TableScriptWriter::FirstOperation(uint32_t objectId, const std::wstring& storedName) {
    using Start = TickedTableWalk::TableStart;
    columns_ = run_.catalog.BuildTableLists(objectId, run_.definitions);
    if (columns_.empty()) return Start::NotReady;  // unknown to the catalogue, or without columns
    const std::wstring tableName = TakeSavedName(run_.tableNames, objectId, storedName, run_.log);
    const std::wstring create =
        tableName.empty() ? std::wstring() : BuildCreateTableScript(columns_, tableName, run_.state);
    if (create.empty()) {
        run_.log.Line(L"Empty query for table  " + storedName + L" .Table can not be created");
        return Start::NotReady;
    }
    tableName_ = tableName;

    run_.script.currentTableName = tableName;
    folderName_ = run_.names.TableFolderName(tableName);
    run_.state.blobFileCounter = 0;
    run_.state.blobFolder = run_.folder + L"/Blob_" + folderName_;
    // A refused CREATE TABLE ends the table's script: its rows and keys would only meet a missing table.
    tableFilePath_ = WriteTableScriptHeader(L":on error exit\r\n" + create + L"\r\n GO\r\n:on error ignore\r\n",
                                            run_.folder + L"/Tables", folderName_, kDatabaseVariable);
    const std::wstring tableFolder = run_.folder + L"/Tables/" + folderName_;
    if (tableFilePath_.empty()) {
        run_.ReportUnopenedFile(tableFolder + L"/" + folderName_ + L".sql");
        return Start::NotReady;
    }
    const std::wstring listPath = tableFolder + L"/maintablescript.sql";
    if (!listFile_.open(NativePath(listPath), BinaryFile::Mode::CreateWrite)) {
        run_.ReportUnopenedFile(listPath);
        return Start::NotReady;
    }
    if (tableName.find(L"$(") != std::wstring::npos)
        run_.log.Line(L"Table " + folderName_ + L" : its name holds \"$(\", which sqlcmd reads as a variable: "
                      L"its script will not run as written");
    const std::wstring writing = L"Writing script for table " + folderName_ + L" in file  " + folderName_ + L".sql";
    run_.log.Line(writing);
    run_.log.View().ShowStatement(writing + L"\r\n");
    if (!WriteByteOrderMark(listFile_) ||
        !WriteScriptText(listFile_, L"\r\n:r \"Tables/" + folderName_ + L"/" + folderName_ + L".sql\""))
        run_.ReportFailedFile(listPath);
    run_.batch.AddDatabaseScript(L"Tables/" + folderName_ + L"/maintablescript.sql");
    if (run_.state.legacyCatalog == 0 && run_.saveConstraints) WriteConstraints();
    insert_.emplace(tableFilePath_, kDatabaseVariableName, folderName_, listFile_, run_.script);
    written_.emplace_back(objectId, tableName);
    createdIds_.insert(objectId);
    ready_ = true;
    return Start::Ready;
}

void TableScriptWriter::WriteConstraints() {
    std::vector<std::wstring> refused;
    std::vector<std::wstring> statements = TableConstraintStatements(
        run_.catalog, tableName_, columns_, [&](int32_t id) { return run_.DefinitionText(id); }, run_.state, &refused);
    for (const std::wstring& name : refused) run_.log.Line(RefusedDefinitionLine(tableName_, name));
    for (std::wstring& index : TableIndexStatements(run_.catalog, tableName_, columns_, run_.state))
        statements.push_back(std::move(index));
    BinaryFile file;
    bool ok = file.open(NativePath(tableFilePath_), BinaryFile::Mode::Append);
    for (const std::wstring& statement : statements) ok = ok && WriteScriptText(file, statement + L"\r\nGO\r\n");
    if (!ok) {
        fileFailed_ = true;
        run_.ReportFailedFile(tableFilePath_);
    }
}

void TableScriptWriter::SaveOperation(const OperationEntry& entry) {
    // Rows after a cut in the table file would not run: a failed file takes no more.
    if (fileFailed_) {
        run_.tally.NotWritten();
        return;
    }
    std::unique_ptr<TableLayout, void (*)(TableLayout*)> layout(BuildTableLayout(columns_), DestroyTableLayout);
    if (!layout) {
        run_.tally.NoRow(L"the table's layout cannot be built");
        return;
    }
    TableScriptTarget target{columns_, *insert_};
    const uint64_t failedBefore = run_.script.failedWrites;
    std::wstring noRow;
    const uint64_t rows = WriteOperationRowScript(rebuilder_, entry.blockOffset, store_.AllocationUnitId(entry),
                                                  *layout, entry.slotIndex, target, run_.state, entry.operation, noRow);
    // Rows handed to the writer are counted when they reach the file (Settle).
    if (!noRow.empty()) {
        run_.tally.NoRow(noRow);
    } else if (rows == 0) {
        if (run_.script.failedWrites != failedBefore)
            run_.tally.NotWritten();
        else
            run_.tally.StoppedBeforeRow();
    }
    Settle(failedBefore);
}

void TableScriptWriter::Settle(uint64_t failedBefore) {
    const InsertScriptSettled settled = insert_->Take();
    for (uint64_t i = 0; i < settled.keptOperations; ++i) run_.tally.Kept();
    for (uint64_t i = 0; i < settled.notWritten; ++i) run_.tally.NotWritten();
    run_.tally.StandIns(settled.standIns);
    rows_ += settled.keptRows;
    if (run_.script.failedWrites != failedBefore) {
        fileFailed_ = true;
        run_.ReportFailedFile(tableFilePath_);
    }
}

void TableScriptWriter::EndTable(const TickedTable&, uint64_t) {
    if (ready_) {
        std::wstring tail;
        if (run_.state.identityColumnSeen == 1)
            tail += L"\r\n GO\r\nSET IDENTITY_INSERT " + IdentityInsertTableName(tableName_) + L" OFF";
        tail += L"\r\nGO";
        const uint64_t failedBefore = run_.script.failedWrites;
        insert_->Append(tail);
        insert_->Flush();
        Settle(failedBefore);
        insert_.reset();
        listFile_.close();
        run_.rowsWritten += rows_;
    }
    run_.log.Line(L"Total Number of record Processed =  " + std::to_wstring(static_cast<int32_t>(rows_)) + L" .");
    if (const std::wstring line = run_.tally.TableLine(); !line.empty()) run_.log.Line(line);
    ready_ = false;
}

}  // namespace kestrane
