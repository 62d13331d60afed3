#include "datafile/PageScan.h"

#include <cstring>

namespace kestrane {

namespace {
constexpr size_t kMaxBlockPages = 1024;  // 8 MiB
}

PageBlockReader::PageBlockReader(const BinaryFile& file, uint64_t startOffset)
    : file_(file), nextOffset_(startOffset) {}

void PageBlockReader::Fill() {
    if (pagesInBlock_ != 0) blockPages_ = std::min(blockPages_ * 2, kMaxBlockPages);
    const size_t bytes = blockPages_ * kPageSize;
    if (block_.size() < bytes) block_.resize(bytes);
    size_t got = file_.readAt(nextOffset_, block_.data(), bytes);
    if (got < bytes) std::memset(block_.data() + got, 0, bytes - got);
    nextOffset_ += bytes;
    pagesInBlock_ = blockPages_;
    index_ = 0;
}

ByteView PageBlockReader::Next() {
    if (index_ >= pagesInBlock_) Fill();
    return ByteView(block_.data() + (index_++) * kPageSize, kPageSize);
}

uint8_t CheckPageAlignment(const BinaryFile& file, uint64_t pageCount, uint64_t& leadingOffset, RunState& state,
                           ProgressSink& progress) {
    const uint64_t start = pageCount > 8 ? 8 : pageCount / 4;
    uint64_t i = start;
    uint8_t result = 1;
    progress.StatusText("Checking for file corruption ...........");
    progress.SetRange(ProgressInt(pageCount));
    progress.SetPosition(0);
    const uint64_t step = ProgressStep(pageCount);
    auto linesUp = [](ByteView page, uint64_t index) { return page.getOr<uint32_t>(kHdrThisPageId, 0) == index; };

    {
        PageBlockReader reader(file, i * kPageSize + leadingOffset);
        for (; i <= pageCount && !state.stopRequested(); ++i) {
            if (linesUp(reader.Next(), i)) {
                result = 0;
                break;
            }
            if (i % step == 0) progress.SetPosition(ProgressInt(i));
        }
    }
    if (result == 1 && leadingOffset != 0) {
        // Small files are checked again from the same start: a file of a few pages followed by stray
        // bytes would otherwise keep a leading block that shifts every page it reads.
        i = start;
        PageBlockReader reader(file, i * kPageSize);
        for (; i <= pageCount; ++i) {
            if (linesUp(reader.Next(), i)) {
                result = 0;
                leadingOffset = 0;
                break;
            }
            if (i % step == 0) progress.SetPosition(ProgressInt(i));
        }
    }
    progress.SetPosition(ProgressInt(pageCount));
    progress.StatusText("Checking for file corruption is done...........");
    return result;
}

void ShrinkPageMap(std::map<uint32_t, std::vector<PageRef>>& map) {
    for (auto& [id, refs] : map) refs.shrink_to_fit();
}

}  // namespace kestrane
