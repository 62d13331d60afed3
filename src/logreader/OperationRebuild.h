#pragma once
// The row images of one logged operation: the log block is read again by its file offset, the record
// found by its slot index, and its rows decoded through the data-file reader: an inserted or deleted
// row from the record alone, an updated row as it was right after and right before the change,
// rebuilt from the row's logged history and its data page (UpdateRowReplay). A large value the data file
// cannot give whole is read from the large-value records the log inserted for it (LoggedLargeValues).
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "datafile/CatalogRecords.h"
#include "datafile/ColumnDef.h"
#include "datafile/PageHeader.h"
#include "datafile/RowValues.h"
#include "logreader/LogByteSource.h"
#include "logreader/LogRecord.h"
#include "logreader/LoggedLargeValues.h"
#include "logreader/RowHistory.h"
#include "logreader/UpdateRowReplay.h"
#include "platform/RunState.h"

namespace kestrane {

class CDbFileHolder;
class CMetadataCatalog;
class CDataPage;
class OperationStore;

struct RowImages {
    uint8_t operation = 0;
    // Inserted/deleted: one image. Updated: image 0 the row right after the change, image 1 the row
    // right before it; none when the row cannot be rebuilt (see failure) or did not decode. Cells
    // follow the layout's columns.
    std::vector<RowValues> images;
    // Why an update's row cannot be rebuilt (None otherwise); StatusText() says it to the user.
    RowRebuildFailure failure = RowRebuildFailure::None;
    // Updated: the stored bytes of image 0 and image 1.
    std::vector<uint8_t> afterBytes, beforeBytes;
    // Why there is no image, said more exactly than `failure` can ("The row cannot be rebuilt: ...");
    // empty when there are images or `failure` says it.
    std::wstring noRowReason;

    bool Rebuilt() const { return failure == RowRebuildFailure::None; }
    std::wstring StatusText() const { return noRowReason.empty() ? RowRebuildFailureText(failure) : noRowReason; }
};

class OperationRebuilder {
public:
    OperationRebuilder(CDbFileHolder& holder, CMetadataCatalog& catalog, RunState& state, const LogByteSource& log);
    OperationRebuilder(const OperationRebuilder&) = delete;
    OperationRebuilder& operator=(const OperationRebuilder&) = delete;

    // The images of the record at `slotIndex` of the block at `blockOffset`; none when the slot is
    // beyond the block, the record belongs to another rowset, or nothing could be decoded.
    RowImages Rebuild(uint64_t blockOffset, uint64_t allocationUnitId, TableLayout& layout, uint32_t slotIndex);

    // Decodes by rowset-column records or not as the clicked table's schema says, instead of asking
    // the catalogue's current table (which may be another table by now).
    void DecodeByRowsetColumns(bool byRowsetColumns) { byRowsetColumns_ = byRowsetColumns; }
    // Decodes as the catalogue's current table says again.
    void DecodeAsCatalogueSays() { byRowsetColumns_.reset(); }

    // The listing whose operations give each updated row its history; without one an update is
    // rebuilt from its page alone. Each table's history is read once, on its first update.
    void UseListing(const OperationStore& store) { store_ = &store; }

    // The log's large-value records, read on the first value the data file cannot give.
    const LoggedLargeValues& LoggedValues() const { return logged_; }

private:
    // The data pages as the data file holds them now.
    class HolderPageImages : public DataPageImages {
    public:
        explicit HolderPageImages(CDbFileHolder& holder) : holder_(holder) {}
        bool Read(PageAddress address, std::vector<uint8_t>& image) override;

    private:
        CDbFileHolder& holder_;
    };

    // `unit` and `asOf` name the table and the log record whose large values the log may give.
    std::vector<RowValues> Decode(CDataPage& page, TableLayout& layout, uint64_t unit, CLogSeqNo asOf);
    std::optional<RowValues> DecodeRow(PageAddress address, ByteView row, TableLayout& layout, uint64_t unit,
                                       CLogSeqNo asOf);
    // Why no row could be read at `address`: its file was not found, the page is not in its file, or
    // (the page being there) the row's bytes do not decode.
    std::wstring NoRowAt(PageAddress address);
    void RebuildUpdate(uint64_t blockOffset, uint64_t allocationUnitId, uint32_t slotIndex, PageAddress page,
                       const RowStep& self, TableLayout& layout, RowImages& out);

    CDbFileHolder& holder_;
    CMetadataCatalog& catalog_;
    RunState& state_;
    const LogByteSource& log_;
    std::vector<uint8_t> block_;  // the re-read block
    std::optional<bool> byRowsetColumns_;
    const OperationStore* store_ = nullptr;
    std::pair<size_t, uint64_t> listed_{0, 0};   // the listing the histories were read from
    std::map<uint64_t, RowHistory> histories_;    // by allocation unit
    HolderPageImages pages_;
    UpdateRowReplay replay_;                      // keeps the last rebuilt row for the next update
    LoggedLargeValues logged_;
};

}  // namespace kestrane
