#pragma once
// Sequential walks over the pages of a data file, shared by the primary file's index and the secondary
// files: a block reader that serves one page image at a time from large reads, the two-pass alignment
// check, and the header walk that reports progress about a hundred times.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "datafile/PageHeader.h"
#include "platform/BinaryFile.h"
#include "platform/ByteReader.h"
#include "platform/ProgressSink.h"
#include "platform/RunState.h"

namespace kestrane {

// Serves consecutive kPageSize images starting at a byte offset. Reads grow from a few pages to
// several MiB, so that a walk that stops early reads little and a full walk costs what reading costs.
// Bytes past the end of the file read as zero.
class PageBlockReader {
public:
    PageBlockReader(const BinaryFile& file, uint64_t startOffset);
    ByteView Next();

private:
    void Fill();

    const BinaryFile& file_;
    uint64_t nextOffset_;
    std::vector<uint8_t> block_;
    size_t blockPages_ = 8;
    size_t pagesInBlock_ = 0;
    size_t index_ = 0;
};

// Progress step for a walk of `pageCount` pages: ceil(pageCount / 100), at least 1.
inline uint64_t ProgressStep(uint64_t pageCount) { return std::max<uint64_t>(1, (pageCount + 99) / 100); }
inline int ProgressInt(uint64_t value) { return static_cast<int>(std::min<uint64_t>(value, INT_MAX)); }

// The alignment check of one file: pass 1 looks for a page whose own page id (u32 at 32) equals its
// index after the leading block; when none does and the leading block is not empty, pass 2 looks at
// offset 0 and, on a line-up, sets `leadingOffset` to 0. Returns 1 when no page lined up.
uint8_t CheckPageAlignment(const BinaryFile& file, uint64_t pageCount, uint64_t& leadingOffset, RunState& state,
                           ProgressSink& progress);

// Visits page indexes 0..pageCount (the last one reads past the last whole page, zero-filled) until the
// stop flag is set, with the range/position progress of an indexing pass. `statusText` (may be null)
// is sent after the initial position.
template <typename Visit>
void ScanPageHeaders(const BinaryFile& file, uint64_t leadingOffset, uint64_t pageCount, RunState& state,
                     ProgressSink& progress, const char* statusText, Visit&& visit) {
    progress.SetRange(ProgressInt(pageCount));
    progress.SetPosition(0);
    if (statusText) progress.StatusText(statusText);
    PageBlockReader reader(file, leadingOffset);
    const uint64_t step = ProgressStep(pageCount);
    for (uint64_t i = 0; i <= pageCount && !state.stopRequested();) {
        visit(i, reader.Next());
        ++i;
        if (i % step == 0) progress.SetPosition(ProgressInt(i));
    }
    progress.SetPosition(ProgressInt(pageCount));
}

// Header fields that decide where a page is indexed.
struct PageIndexFields {
    int32_t objectId;
    uint16_t indexId;
    uint16_t fileId;
    uint8_t pageType;
};
inline PageIndexFields ReadIndexFields(ByteView page) {
    return {page.getOr<int32_t>(kHdrObjectId, 0), page.getOr<uint16_t>(kHdrIndexId, 0),
            page.getOr<uint16_t>(kHdrThisFileId, 0), page.getOr<uint8_t>(kHdrPageType, 0)};
}

// System-table pages carry index id 0 or 1; a user allocation unit can carry a small object id in its
// page headers with a larger index id, and its rows are not catalogue records.
inline bool IsSystemTableIndexId(uint16_t indexId) { return indexId <= 1; }

// Appends to map[key] while remembering the last vector used: consecutive pages mostly share an object.
class PageMapAppender {
public:
    explicit PageMapAppender(std::map<uint32_t, std::vector<PageRef>>& map) : map_(map) {}
    void Append(uint32_t key, const PageRef& ref) {
        if (!last_ || key != lastKey_) {
            last_ = &map_[key];
            lastKey_ = key;
        }
        last_->push_back(ref);
    }

private:
    std::map<uint32_t, std::vector<PageRef>>& map_;
    std::vector<PageRef>* last_ = nullptr;
    uint32_t lastKey_ = 0;
};

// Drops the spare capacity of every vector of a page map (the index should cost ~10 bytes a page).
void ShrinkPageMap(std::map<uint32_t, std::vector<PageRef>>& map);

}  // namespace kestrane
