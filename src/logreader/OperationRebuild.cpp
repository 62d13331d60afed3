#include "logreader/OperationRebuild.h"

#include <cstring>

#include "datafile/DataPage.h"
#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "datafile/RowValueDecoder.h"
#include "datafile/SecondaryDataFiles.h"
#include "logreader/LogBlock.h"
#include "logreader/LoggedLobPages.h"
#include "logreader/LoggedRowChange.h"
#include "logreader/OperationStore.h"

namespace kestrane {

namespace {
constexpr size_t kRowBufferSize = 8192;
constexpr size_t kRowLengthAt = 8190;  // one-row buffer: the row at 0, its length as u16 here

// A page of a secondary file that the data file did not open (not found beside the primary file).
bool InFileNotOpened(const CMdfFile* file, PageAddress address) {
    return file && address.fileId > 1 && file->SecondaryFiles().count(address.fileId) == 0;
}

constexpr const wchar_t* kRecordUnreadable = L"The row cannot be rebuilt: its log record cannot be read again.";

}  // namespace

OperationRebuilder::OperationRebuilder(CDbFileHolder& holder, CMetadataCatalog& catalog, RunState& state,
                                       const LogByteSource& log)
    : holder_(holder), catalog_(catalog), state_(state), log_(log), pages_(holder), replay_(pages_, log),
      logged_(log, catalog.allocationUnits) {}

bool OperationRebuilder::HolderPageImages::Read(PageAddress address, std::vector<uint8_t>& image) {
    const std::unique_ptr<CDataPage> page = holder_.LoadDataPage(address);
    if (!page || page->view().size() < kPageSize) return false;
    image.assign(page->view().data(), page->view().data() + kPageSize);
    return true;
}

std::vector<RowValues> OperationRebuilder::Decode(CDataPage& page, TableLayout& layout, uint64_t unit,
                                                  CLogSeqNo asOf) {
    std::unique_ptr<DataFileThenLogLobPages> lobPages;
    if (page.file()) lobPages = std::make_unique<DataFileThenLogLobPages>(*page.file(), logged_, unit, asOf);
    if (byRowsetColumns_.value_or(!catalog_.currentRowsetColumns.empty()))
        DecodeRowValuesByRowsetColumns(page, layout, lobPages.get());
    else
        DecodeRowValues(page, layout, lobPages.get());
    return std::move(page.decodedRows);
}

std::optional<RowValues> OperationRebuilder::DecodeRow(PageAddress address, ByteView row, TableLayout& layout,
                                                     uint64_t unit, CLogSeqNo asOf) {
    // A row longer than the one-row buffer cannot be a real row; it would also overwrite its length.
    if (row.size() > kRowLengthAt) return std::nullopt;
    std::vector<uint8_t> buffer(kRowBufferSize, 0);
    if (!row.empty()) std::memcpy(buffer.data(), row.data(), row.size());
    const auto length = static_cast<uint16_t>(row.size());
    std::memcpy(buffer.data() + kRowLengthAt, &length, sizeof length);
    std::unique_ptr<CDataPage> page = holder_.LoadDataPageEx(address, ByteView(buffer));
    if (!page) return std::nullopt;
    std::vector<RowValues> images = Decode(*page, layout, unit, asOf);
    if (images.empty()) return std::nullopt;
    return std::move(images.front());
}

std::wstring OperationRebuilder::NoRowAt(PageAddress address) {
    if (InFileNotOpened(holder_.DataFile(), address)) {
        std::wstring name;
        for (const DataFileEntry& entry : catalog_.files)
            if (entry.fileId == address.fileId) name = L" (" + DataFileName(entry.path) + L")";
        return L"The row cannot be rebuilt: its page lies in data file " + std::to_wstring(address.fileId) + name +
               L", which was not found beside the MDF file.";
    }
    if (!holder_.LoadDataPage(address))
        return L"The row cannot be rebuilt: its page (file " + std::to_wstring(address.fileId) + L", page " +
               std::to_wstring(address.pageId) + L") is not in the data file.";
    return L"The row cannot be rebuilt: its logged bytes do not decode as a row of this table.";
}

RowImages OperationRebuilder::Rebuild(uint64_t blockOffset, uint64_t allocationUnitId, TableLayout& layout,
                                      uint32_t slotIndex) {
    RowImages out;
    out.noRowReason = kRecordUnreadable;
    const auto block = ReadLogBlock(log_, blockOffset, block_);
    if (!block || !logfmt::IsReadableLayout(block->Layout())) return out;
    if (slotIndex >= block->RecordCount()) return out;
    const RowLogRecord record(block->bytes(), block->Extent(slotIndex));
    out.operation = record.Operation();
    if (record.RowsetId() != allocationUnitId) {
        out.noRowReason = L"The row cannot be rebuilt: the log record at its place belongs to another table.";
        return out;
    }
    out.noRowReason.clear();
    const LogPageId page = record.Page();
    CLogSeqNo lsn = block->header().lsn;
    lsn.slot = static_cast<uint16_t>(lsn.slot + slotIndex);
    switch (record.Operation()) {
        case logfmt::kOpInsertRow:
        case logfmt::kOpDeleteRow: {
            LogElementWalk walk(record);
            ByteView element0;
            if (!walk.Next(element0)) {
                out.noRowReason = kRecordUnreadable;
                return out;
            }
            const PageAddress address(page.file, page.page);
            if (auto row = DecodeRow(address, element0, layout, allocationUnitId, lsn))
                out.images.push_back(std::move(*row));
            else
                out.noRowReason = NoRowAt(address);
            break;
        }
        case logfmt::kOpModifyRow:
        case logfmt::kOpModifyColumns: {
            const RowStep self{blockOffset, static_cast<uint16_t>(slotIndex), record.Operation(), lsn};
            RebuildUpdate(blockOffset, allocationUnitId, slotIndex, PageAddress(page.file, page.page), self, layout,
                          out);
            break;
        }
        default:
            break;
    }
    return out;
}

void OperationRebuilder::RebuildUpdate(uint64_t blockOffset, uint64_t allocationUnitId, uint32_t slotIndex,
                                       PageAddress address, const RowStep& self, TableLayout& layout,
                                       RowImages& out) {
    std::optional<RowHistory::RowSteps> steps;
    std::vector<RowStep> alone;  // the update without a listing: its row has no other step
    if (store_) {
        // A listing read again (the same store, other entries) reads its histories again.
        const auto listed = std::make_pair(store_->Size(), store_->Empty() ? 0 : (*store_)[0].blockOffset);
        if (listed != listed_) {
            histories_.clear();
            replay_.Forget();
            listed_ = listed;
        }
        auto it = histories_.find(allocationUnitId);
        if (it == histories_.end()) it = histories_.emplace(allocationUnitId, RowHistory(*store_, allocationUnitId, log_)).first;
        steps = it->second.StepsOfRow(blockOffset, static_cast<uint16_t>(slotIndex));
    }
    if (!steps) {
        alone.push_back(self);
        steps = RowHistory::RowSteps{&alone, 0};
    }
    UpdateRows rows = replay_.Replay(*steps->steps, steps->target);
    out.failure = rows.failure;
    if (!out.Rebuilt()) {
        // A page in a file that is not there is the likelier reason, and one the user can mend.
        if (out.failure == RowRebuildFailure::NoStartingRow && InFileNotOpened(holder_.DataFile(), address))
            out.noRowReason = NoRowAt(address);
        return;
    }
    // Both images are decoded against the page of the update itself (its file id names the data file).
    auto after = DecodeRow(address, ByteView(rows.after), layout, allocationUnitId, self.lsn);
    auto before = DecodeRow(address, ByteView(rows.before), layout, allocationUnitId, self.lsn);
    if (!after || !before) {
        out.noRowReason = NoRowAt(address);
        return;
    }
    out.images.push_back(std::move(*after));
    out.images.push_back(std::move(*before));
    out.afterBytes = std::move(rows.after);
    out.beforeBytes = std::move(rows.before);
}

}  // namespace kestrane
