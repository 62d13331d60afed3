#include "export/TickedTableWalk.h"

namespace kestrane {

uint64_t OperationCountOfLabel(const std::wstring& label) {
    const size_t open = label.rfind(L'[');
    if (open == std::wstring::npos) return 0;
    uint64_t count = 0;
    for (size_t i = open + 1; i < label.size() && label[i] >= L'0' && label[i] <= L'9'; ++i)
        count = count * 10 + static_cast<uint64_t>(label[i] - L'0');
    return count;
}

void TickedTableWalk::Run(const std::vector<TickedTable>& tables, Handler& handler) {
    for (const TickedTable& table : tables) {
        // "All" and other items that are no table: nothing to save, nothing to count.
        if (table.objectId == 0) continue;
        if (state_.stopRequested()) break;
        view_.SetProgressRange(table.operationCount);
        view_.SetProgressPosition(0);
        handler.BeginTable(table);
        uint64_t matched = 0;
        TableStart start = TableStart::NotReady;
        const std::span<const uint32_t> entries = store_.EntriesOfTable(table.objectId);
        tally_.BeginTable(entries.size());
        for (uint32_t index : entries) {
            if (state_.stopRequested()) break;
            const OperationEntry& entry = store_[index];
            tally_.Walked();
            if (++matched == 1) {
                tally_.NameTable(store_.TableName(entry));
                start = handler.FirstOperation(table.objectId, store_.TableName(entry));
            }
            if (start == TableStart::Leave) {
                tally_.TableNotCreated(entries.size() - matched + 1);
                break;
            }
            if (start != TableStart::Ready) {
                tally_.TableNotCreated();
                continue;
            }
            view_.SetProgressPosition(matched);
            if (!filter_.dateRanges.empty() && !filter_.KeepsDate(OperationBeginDate(entry.beginTime))) {
                tally_.OutsideDateRanges(BeganBeforeLog(entry.beginTime));
                continue;
            }
            if (!filter_.KeepsKind(entry.operation)) {
                tally_.NotOfChosenKind();
                continue;
            }
            handler.SaveOperation(entry);
        }
        handler.EndTable(table, matched);
    }
}

}  // namespace kestrane
