#include "export/ScriptSaveRun.h"

#include <map>
#include <set>

#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "export/ConstraintStatements.h"
#include "export/ModuleScripts.h"
#include "export/ScriptRunContext.h"
#include "export/TableScriptWriter.h"
#include "sqltext/CreateTableText.h"
#include "sqltext/ScriptFiles.h"
#include "sqltext/SqlNames.h"

namespace kestrane {

namespace {

// The large values of the rows go to side files only while the run lasts, however it ends.
struct LargeValuesToFiles {
    explicit LargeValuesToFiles(RunState& state) : state_(state) { state_.blobsToFiles = 1; }
    ~LargeValuesToFiles() { state_.blobsToFiles = 0; }
    RunState& state_;
};

void WriteUserTypes(ScriptRunContext& run) {
    run.catalog.ScriptUserTypes(BracketedName);
    if (!run.catalog.typeStatements.empty()) {
        std::wstring text = GuardedUseBatch(L"use " + BracketedName(L"$(DBNAME)") + L"\r\nGO\r\n");
        for (const std::wstring& statement : run.catalog.typeStatements) text += statement + L"\r\nGO\r\n";
        if (run.WriteScript(L"userdefinedatatype.sql", text)) run.batch.AddDatabaseScript(L"userdefinedatatype.sql");
    }
    run.catalog.typeStatements.clear();
}

void WriteModules(ScriptRunContext& run) {
    std::vector<std::wstring> refused;
    const std::vector<ModuleScript> modules =
        CollectModuleScripts(run.catalog.objects, [&](int32_t id) { return run.DefinitionText(id); }, refused);
    for (const std::wstring& name : refused)
        run.log.Line(L"Definition of \" " + name +
                     L" \" left out: it is not one module definition that sqlcmd would run as it stands");
    for (const ModuleScript& module : modules) {
        if (run.state.stopRequested()) break;
        run.log.Line(L"Writing Query  : \" " + module.name + L" \"");
        if (run.WriteScript(module.relativePath, module.text)) run.batch.AddKeyScript(module.relativePath);
    }
}

// A catalogue of the legacy layout: one primary key per table written, from its key columns.
void WriteLegacyPrimaryKeys(ScriptRunContext& run, const std::vector<std::pair<uint32_t, std::wstring>>& tables) {
    size_t i = 0;
    for (const auto& [tableId, table] : tables) {
        std::map<uint32_t, std::wstring> byPosition;
        for (const KeyColumnRecord& key : run.catalog.keyColumns)
            if (key.tableId == tableId) byPosition.emplace(key.keyPosition, key.columnName);
        if (byPosition.empty()) continue;
        std::vector<std::wstring> columns;
        for (const auto& [position, name] : byPosition) columns.push_back(SanitizeSqlIdentifier(name));
        const std::wstring path = L"altertablecommandPrimarykeys/" + std::to_wstring(i++) + L".sql";
        if (run.WriteScript(path, LegacyPrimaryKeyStatement(table, columns))) run.batch.AddKeyScript(path);
    }
}

// Only keys between tables that the folder creates: a key naming any other table would fail.
void WriteForeignKeys(ScriptRunContext& run, const std::set<uint32_t>& created) {
    const std::vector<std::wstring> statements =
        CatalogForeignKeyStatements(run.catalog, run.definitions, [&](const ForeignKeyDef& key) {
            return created.count(key.tableId) != 0 && created.count(key.referencedTableId) != 0;
        }, &run.tableNames);
    for (size_t i = 0; i < statements.size(); ++i) {
        if (run.state.stopRequested()) break;
        if (statements[i].empty()) continue;
        const std::wstring path = L"altertablecommandforeignkeys/" + std::to_wstring(i) + L".sql";
        if (run.WriteScript(path, statements[i])) run.batch.AddKeyScript(path);
    }
}

}  // namespace

ScriptSaveResult ScriptSaveRun::Run(const std::vector<TickedTable>& tables, const ScriptSaveOptions& options) {
    ScriptSaveResult result;
    LargeValuesToFiles largeValues(state_);
    CMetadataCatalog* catalog = holder_.Catalog();
    if (!catalog || state_.dataFilePath.empty()) {
        view_.SetFinished();  // nothing to save; the dialog must still let the user leave
        return result;
    }
    state_.saveInsert = options.filter.saveInsert;
    state_.saveDelete = options.filter.saveDelete;
    state_.saveUpdate = options.filter.saveUpdate;
    state_.dateFilter = options.filter.dateRanges;
    state_.saveConstraints = options.saveConstraints;
    state_.saveAsScript = 1;
    state_.scriptFolder = options.scriptFolder;
    script_.currentTableName.clear();
    state_.stopFlag = 0;
    state_.saveLogRow = 0;

    SaveLog log(state_, view_);
    log.Activity(L"\r\n Creating Script for Database \r\n");
    const std::wstring databaseName = DatabaseNameFromFilePath(state_.dataFilePath);
    std::wstring chosen = options.scriptFolder;
    if (chosen.empty() || (chosen.back() != L'/' && chosen.back() != L'\\')) chosen += L'/';
    const std::wstring folder = EnsureOutputFolder(chosen, ScriptFolderNames::DatabaseFolderName(databaseName));
    if (!folder.empty()) log.Line(L"Creating Directory \" " + folder + L" \"");
    result.folder = folder;

    ScriptFolderNames names;
    const std::wstring databaseScriptName = names.DatabaseScriptName(databaseName);
    const std::wstring databaseScript = CreateScriptFile(databaseScriptName, folder);
    EnsureOutputFolder(folder + L"/", L"Tables");
    SqlcmdBatchFiles batch(folder, state_.codePage);
    if (!batch.Open()) {
        log.Line(L"Can not open  File \" " + batch.Failures().front() + L" \"");
        result.failedFiles = batch.Failures();
        const std::wstring failed = L"Saving process failed: nothing can be written in \" " + folder + L" \".";
        log.Line(failed);
        view_.SetFinished();
        prompter_.ShowMessage(failed, MessageIcon::Error);
        return result;
    }
    result.batchFilePath = batch.PlatformPath();

    ScriptRunContext run{state_, *catalog, catalog->ObjectDefinitions(), log, batch, names, script_, folder,
                         options.saveConstraints, 0, {}, {}, {}};
    // Without its database script the folder is incomplete, and the batch files do not run it.
    if (databaseScript.empty()) {
        run.ReportUnopenedFile(ScriptFilePath(databaseScriptName, folder));
    } else if (WriteCreateDatabaseScript(databaseScript, L"$(DBNAME)").empty()) {
        run.ReportFailedFile(databaseScript);
    } else {
        log.Line(L"Creating File \" " + databaseScript + L" \"");
        batch.AddCreateDatabaseScript(databaseScriptName + L".sql");
    }
    WriteUserTypes(run);

    OperationRebuilder rebuilder(holder_, *catalog, state_, log_);
    rebuilder.UseListing(store_);
    TableScriptWriter writer(run, store_, rebuilder);
    TickedTableWalk(store_, state_, options.filter, view_, run.tally).Run(tables, writer);

    view_.ShowStatement(L"Writing script for Store Procedures ,functions,views and triggers ");
    log.Activity(L"Writing script for Store Procedures ,functions,views and triggers \r\n");
    WriteModules(run);
    if (state_.legacyCatalog != 0) WriteLegacyPrimaryKeys(run, writer.TablesWritten());
    WriteForeignKeys(run, writer.TablesCreated());
    batch.Finish();
    for (const std::wstring& path : batch.Failures()) run.ReportFailedFile(path);

    result.stopped = state_.stopRequested();
    state_.stopFlag = 0;
    result.rowsWritten = run.rowsWritten;
    result.failedFiles = run.failedFiles;
    // A stop or a failed file is said as such: the folder is not what a completed run leaves.
    if (result.stopped || !result.failedFiles.empty()) {
        std::wstring end = result.stopped ? run.tally.StoppedText() : std::wstring();
        if (!result.failedFiles.empty())
            end += (end.empty() ? L"Saving process ended with errors: " : L" ") +
                   std::to_wstring(result.failedFiles.size()) +
                   L" files could not be written whole (is the disk full?); the scripts in \" " + folder +
                   L" \" are incomplete.";
        view_.ShowStatement(end + L"\r\n");
        log.Line(end);
        log.EndBlock(end);
        view_.SetFinished();
        prompter_.ShowMessage(end, result.failedFiles.empty() ? MessageIcon::Information : MessageIcon::Error);
        return result;
    }
    const std::wstring done = L"Writing script has completed and  path for saved scripts is in " + batch.PlatformPath();
    view_.ShowStatement(done + L"\r\n");
    log.Activity(done + L"\r\n");
    log.EndBlock(L"Saving process completed!!!");
    view_.SetFinished();
    prompter_.ShowMessage(L"Saving process completed.", MessageIcon::Information);
    return result;
}

}  // namespace kestrane
