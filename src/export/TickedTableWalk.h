#pragma once
// The walk both save runs make: over the tables ticked in the tree, and for each over its logged
// operations in log order, with the progress bar, the stop flag and the save filter applied. The run
// says what a table's first operation does (create the table, open its files) and what a kept
// operation does (add the row, write its INSERT). The tally counts what the filter left out; the
// handler adds what each operation it was given became.
#include <cstdint>
#include <string>
#include <vector>

#include "export/SaveFilter.h"
#include "export/SaveProgressView.h"
#include "export/SaveTally.h"
#include "logreader/OperationStore.h"
#include "platform/RunState.h"

namespace kestrane {

// A ticked tree item: its data (the table's object id; 0 for the items that are no table) and the
// operation count its label ends with ("name[count]").
struct TickedTable {
    uint32_t objectId = 0;
    uint64_t operationCount = 0;
};

// The count of a tree label: the number after the last "[" up to its "]"; 0 without a "[".
uint64_t OperationCountOfLabel(const std::wstring& label);

class TickedTableWalk {
public:
    // What the table's first operation left: its operations are saved, only counted, or not walked.
    enum class TableStart { Ready, NotReady, Leave };

    class Handler {
    public:
        virtual ~Handler() = default;
        virtual void BeginTable(const TickedTable& table) = 0;
        // At the table's first operation (`tableName` is that operation's table name). The object id,
        // not the name, says which table it is: two schemas may each have a table of one name.
        virtual TableStart FirstOperation(uint32_t objectId, const std::wstring& tableName) = 0;
        // An operation of a ready table that the filter keeps; tells the tally what it became.
        virtual void SaveOperation(const OperationEntry& entry) = 0;
        // After the table's operations, also after a stop; `matched` counts the operations walked.
        // The tally holds the table's counts until the next table begins.
        virtual void EndTable(const TickedTable& table, uint64_t matched) = 0;
    };

    TickedTableWalk(const OperationStore& store, const RunState& state, const SaveFilter& filter,
                    SaveProgressView& view, SaveTally& tally)
        : store_(store), state_(state), filter_(filter), view_(view), tally_(tally) {}

    // Polls the stop flag before each table and each operation. Items without a table (object id 0)
    // reach no handler.
    void Run(const std::vector<TickedTable>& tables, Handler& handler);

private:
    const OperationStore& store_;
    const RunState& state_;
    const SaveFilter& filter_;
    SaveProgressView& view_;
    SaveTally& tally_;
};

}  // namespace kestrane
