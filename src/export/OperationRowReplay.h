#pragma once
// The row replay of the database save: each chosen logged operation is rebuilt as the click handler
// rebuilds it, and the row it keeps (SavedRowImages) is added to the export session's open table
// through the prepared INSERT. A row that the server refuses is written to the activity log as
// "row not inserted after N  row no.", counted with the first refusal's reason for the table's summary,
// and the replay goes on with the next.
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "export/SqlExportSession.h"
#include "logreader/OperationRebuild.h"
#include "platform/OdbcError.h"
#include "sqltext/StandInTally.h"

namespace kestrane {

class OperationRowReplay {
public:
    OperationRowReplay(CDbFileHolder& holder, CMetadataCatalog& catalog, RunState& state, const LogByteSource& log)
        : state_(state), rebuilder_(holder, catalog, state, log) {}

    // Rebuilds the operation (of kind `operation`) at (`blockOffset`, `slotIndex`) of the rowset
    // `allocationUnitId` and adds its row to `session`'s open table. A rebuild that gives no row adds
    // and counts nothing and returns why; otherwise the result is empty.
    std::wstring ReplayOperationRow(uint64_t blockOffset, uint64_t allocationUnitId, TableLayout& layout,
                                    uint32_t slotIndex, CSqlExportSession& session, uint8_t operation);

    // The listing whose operations give each updated row its history.
    void UseListing(const OperationStore& store) { rebuilder_.UseListing(store); }

    // Rows handed to the server since the last reset (a refused row is not counted; a row of a table
    // without exported columns is).
    uint64_t addedRows() const { return addedRows_; }
    // Rows refused since the last reset, and the first refusal's error (nullopt when it was no ODBC error).
    uint64_t refusedRows() const { return refusedRows_; }
    const std::optional<OdbcError>& firstRefusal() const { return firstRefusal_; }
    const std::wstring& firstRefusalText() const { return firstRefusalText_; }
    // The stand-ins among the values of the added rows since the last reset.
    const StandInTally& standIns() const { return standIns_; }
    void ResetAddedRows() {
        addedRows_ = refusedRows_ = 0;
        standIns_.Clear();
        firstRefusal_.reset();
        firstRefusalText_.clear();
    }
    // The last refusal that was no broken key or constraint (a lost connection, a refused statement),
    // taken once: the run reports it.
    std::optional<OdbcError> TakeFailure() { return std::exchange(failure_, std::nullopt); }

private:
    RunState& state_;
    OperationRebuilder rebuilder_;
    std::vector<SqlRowValue> values_;  // reused from row to row
    StandInTally rowStandIns_, standIns_;
    uint64_t addedRows_ = 0;
    uint64_t refusedRows_ = 0;
    std::optional<OdbcError> firstRefusal_;
    std::wstring firstRefusalText_;  // when the first refusal was no ODBC error
    std::optional<OdbcError> failure_;
};

}  // namespace kestrane
