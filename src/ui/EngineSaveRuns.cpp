#include "ui/EngineSaveRuns.h"

#include "export/DatabaseSaveRun.h"
#include "export/ScriptSaveRun.h"
#include "export/TickedTableWalk.h"
#include "logreader/LogByteSource.h"
#include "sqltext/InsertScript.h"

namespace kestrane {

namespace {

std::vector<TickedTable> TablesOf(const std::vector<TickedTreeItem>& items) {
    std::vector<TickedTable> tables;
    tables.reserve(items.size());
    for (const TickedTreeItem& item : items) tables.push_back({item.data, OperationCountOfLabel(item.label)});
    return tables;
}

SaveFilter FilterOf(const RunState& state) {
    SaveFilter filter;
    filter.saveInsert = state.saveInsert != 0;
    filter.saveDelete = state.saveDelete != 0;
    filter.saveUpdate = state.saveUpdate != 0;
    filter.dateRanges = state.dateFilter;
    return filter;
}

class EngineSaveRuns : public SaveRuns {
public:
    EngineSaveRuns(RunState& state, EngineSession& engine, Prompter& prompter, ProgressSink& owner)
        : state_(state), engine_(engine), prompter_(prompter), owner_(owner) {}

    void SaveToDatabase(const std::vector<TickedTreeItem>& items, SaveProgressView& view) override {
        DatabaseSaveOptions options;
        options.filter = FilterOf(state_);
        // The driver that the connection test found stands where the provider stood.
        options.connection = {state_.databaseName, state_.userName, state_.password, state_.serverName,
                              state_.provider};
        options.saveConstraints = state_.saveConstraints != 0;
        options.saveIntoExistingDatabase = state_.saveIntoExistingDatabase != 0;
        const FileLogSource log(engine_.LogFile());
        DatabaseSaveRun(state_, engine_.Holder(), engine_.Operations(), log, view, prompter_, owner_)
            .Run(TablesOf(items), options);
    }

    void SaveAsScripts(const std::vector<TickedTreeItem>& items, SaveProgressView& view) override {
        ScriptSaveOptions options;
        options.filter = FilterOf(state_);
        options.scriptFolder = state_.scriptFolder;
        options.saveConstraints = state_.saveConstraints != 0;
        const FileLogSource log(engine_.LogFile());
        ScriptSaveRun(state_, engine_.Holder(), engine_.Operations(), log, script_, view, prompter_)
            .Run(TablesOf(items), options);
    }

private:
    RunState& state_;
    EngineSession& engine_;
    Prompter& prompter_;
    ProgressSink& owner_;
    InsertScriptState script_;  // its continuation counter outlives runs
};

}  // namespace

std::unique_ptr<SaveRuns> MakeEngineSaveRuns(RunState& state, EngineSession& engine, Prompter& prompter,
                                             ProgressSink& owner) {
    return std::make_unique<EngineSaveRuns>(state, engine, prompter, owner);
}

}  // namespace kestrane
