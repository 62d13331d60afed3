#include "datafile/MdfFile.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "datafile/PageScan.h"
#include "platform/TextCodec.h"

namespace kestrane {

namespace {

// Object ids whose pages belong to the system base tables (and their legacy counterparts).
bool IsSystemObjectId(int32_t id) {
    switch (id) {
        case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 9: case 13: case 14: case 20: case 21:
        case 34: case 41: case 50: case 53: case 54: case 55: case 60: case 74: case 99: case 2187:
            return true;
        default:
            return false;
    }
}

}  // namespace

CMdfFile::CMdfFile(const std::wstring& path, uint8_t advanceSearch, RunState& state, ProgressSink& progress)
    : path_(path), advanceSearch_(advanceSearch), state_(state), progress_(progress) {
    if (!primaryFile_.open(WideToUtf8(path), BinaryFile::Mode::Read)) {
        openFlag_ = 0;
        progress_.FatalText(kTextFileCannotBeOpen);
    } else if ((fileLength_ = primaryFile_.size()) < kPageSize) {
        openFlag_ = 0;
        progress_.FatalText(kTextNotValidMdf);
    } else {
        leadingOffset_ = fileLength_ % kPageSize;
        pageCount_ = (fileLength_ - leadingOffset_) / kPageSize;
        CheckFileCorruption();
        if (!MapDatabaseObjects()) {
            openFlag_ = 0;
            // A stopped scan is no verdict on the file: the run that asked for the stop says so.
            if (!state_.stopRequested()) progress_.FatalText(kTextNotValidMdf);
        }
    }
    // The stop request is left for the run that made it: it ends every later phase too.
}

CMdfFile::~CMdfFile() = default;

uint8_t CMdfFile::CheckFileCorruption() {
    return CheckPageAlignment(primaryFile_, pageCount_, leadingOffset_, state_, progress_);
}

bool CMdfFile::MapDatabaseObjects() {
    systemPages_.clear();
    dataPages_.clear();
    iamPages_.clear();
    if (state_.snapshotMode) {
        if (LoadSnapshot(state_.snapshotPath) && !systemPages_.empty()) {
            progress_.StatusText(kTextLoadSnapshotFinished);
            return true;
        }
        return false;
    }

    uint64_t systemCount = 0;
    maxPageLsn_ = PageLsn{};
    highestLinkedPage_ = 0;
    PageMapAppender data(dataPages_), iam(iamPages_);
    // A catalogue page is indexed once per page id that its header claims: a file whose pages repeat
    // (copied over and over, or stale copies left behind) would otherwise load the catalogue as many
    // times. Of two copies the one standing at its own place wins.
    std::unordered_map<uint64_t, size_t> systemSlot;
    ScanPageHeaders(primaryFile_, leadingOffset_, pageCount_, state_, progress_, kTextMappingObjects,
                    [&](uint64_t i, ByteView page) {
                        const PageIndexFields f = ReadIndexFields(page);
                        const PageRef ref{f.fileId, static_cast<uint32_t>(i), f.pageType};
                        const uint32_t ownId = page.getOr<uint32_t>(kHdrThisPageId, 0);
                        const bool inPlace = ownId == i;
                        if (inPlace) NoteLinksAndLsn(page);
                        if (IsSystemObjectId(f.objectId) && IsSystemTableIndexId(f.indexId)) {
                            std::vector<PageRef>& refs = systemPages_[static_cast<uint32_t>(f.objectId)];
                            const uint64_t key = uint64_t{static_cast<uint32_t>(f.objectId) & 0xFFF} << 48 |
                                                 uint64_t{f.fileId} << 32 | ownId;
                            auto [slot, added] = systemSlot.emplace(key, refs.size());
                            if (added) {
                                refs.push_back(ref);
                                ++systemCount;
                            } else if (inPlace && refs[slot->second].page != ownId) {
                                refs[slot->second] = ref;
                            }
                        }
                        if (f.objectId > 0) {
                            if (f.pageType == 1) data.Append(static_cast<uint32_t>(f.objectId), ref);
                            else if (f.pageType == 10) iam.Append(static_cast<uint32_t>(f.objectId), ref);
                        }
                    });
    ShrinkPageMap(systemPages_);
    ShrinkPageMap(dataPages_);
    ShrinkPageMap(iamPages_);
    progress_.StatusText(kTextMappingDone);
    return systemCount > 0;
}

void CMdfFile::NoteLinksAndLsn(ByteView page) {
    const PageLsn lsn{page.getOr<uint32_t>(kHdrLsn, 0), page.getOr<uint32_t>(kHdrLsn + 4, 0),
                      page.getOr<uint16_t>(kHdrLsn + 8, 0)};
    if (maxPageLsn_ < lsn) maxPageLsn_ = lsn;
    if (page.getOr<uint16_t>(kHdrThisFileId, 0) != 1) return;
    for (size_t link : {kHdrPrevPage, kHdrNextPage}) {
        if (page.getOr<uint16_t>(link + 4, 0) == 1)
            highestLinkedPage_ = std::max<uint64_t>(highestLinkedPage_, page.getOr<uint32_t>(link, 0));
    }
}

namespace {

// One page from `file` at `position`; what a short read leaves is zeroed.
void FillPage(BinaryFile& file, uint64_t position, uint8_t* page) {
    const size_t got = file.readAt(position, page, kPageSize);
    if (got < kPageSize) std::memset(page + got, 0, kPageSize - got);
}

}  // namespace

PageBuffer CMdfFile::ReadPrimaryAt(uint64_t position) {
    if (position > fileLength_) return nullptr;
    PageBuffer buffer = AllocatePageBuffer();
    if (!buffer) return nullptr;
    FillPage(primaryFile_, position, buffer.get());
    return buffer;
}

PageBuffer CMdfFile::ReadSecondary(const DataFileEntry& entry, uint32_t pageId) {
    if (entry.path.empty() || entry.headerOffset < 0) return nullptr;
    const uint64_t position = uint64_t{pageId} * kPageSize + static_cast<uint64_t>(entry.headerOffset);
    if (entry.length < 0 || position > static_cast<uint64_t>(entry.length)) return nullptr;
    auto open = openSecondaryFiles_.find(entry.path);
    if (open == openSecondaryFiles_.end()) {
        BinaryFile file;
        if (!file.open(WideToUtf8(entry.path), BinaryFile::Mode::Read)) return nullptr;
        open = openSecondaryFiles_.emplace(entry.path, std::move(file)).first;
    }
    PageBuffer buffer = AllocatePageBuffer();
    if (!buffer) return nullptr;
    FillPage(open->second, position, buffer.get());
    return buffer;
}

PageBuffer CMdfFile::ReadPageImage(PageAddress address, bool allowPageZero) {
    if (address.fileId == 0 || (address.pageId == 0 && !allowPageZero)) return nullptr;
    if (address.fileId == 1) {
        if (address.pageId > pageCount_) return nullptr;
        return ReadPrimaryAt(uint64_t{address.pageId} * kPageSize + leadingOffset_);
    }
    auto it = secondaryFiles_.find(address.fileId);
    if (it == secondaryFiles_.end() || static_cast<int64_t>(address.pageId) > it->second.pageCount) return nullptr;
    return ReadSecondary(it->second, address.pageId);
}

PageBuffer CMdfFile::ReadPage(PageAddress address) { return ReadPageImage(address, false); }

std::unique_ptr<CPage_Header> CMdfFile::ReadPageHeader(PageAddress address) {
    PageBuffer page = ReadPage(address);
    if (!page) return nullptr;
    return std::make_unique<CPage_Header>(page.get(), kPageSize);
}

PageBuffer CMdfFile::ReadLoaderPage(PageAddress address, bool refusePageZero) {
    PageBuffer buffer = ReadPageImage(address, !refusePageZero);
    lastPageBuffer_ = buffer.get();
    return buffer;
}

}  // namespace kestrane
