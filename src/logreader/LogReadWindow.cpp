#include "logreader/LogReadWindow.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kestrane {

namespace {
// The largest fetch: a block (sizes are u16).
constexpr size_t kMaxFetch = size_t{1} << 16;
// Reads land on page boundaries: the kernel's copy into a buffer a few bytes past one runs several
// times slower on some processors.
constexpr size_t kPage = 4096;

size_t RoundUp(size_t n) { return (n + kPage - 1) / kPage * kPage; }
}  // namespace

LogReadWindow::LogReadWindow(const LogByteSource& source, size_t windowSize)
    : source_(source) {
    // A source that one read takes whole never cuts a block.
    const bool whole = source.Size() <= windowSize;
    carryRoom_ = whole ? 0 : kMaxFetch;
    windowSize_ = RoundUp(whole ? std::max<size_t>(static_cast<size_t>(source.Size()), 1) : std::max(windowSize, kMaxFetch));
    buffer_.reset(static_cast<uint8_t*>(std::aligned_alloc(kPage, carryRoom_ + windowSize_)));
    if (!buffer_) throw std::bad_alloc();
    data_ = buffer_.get() + carryRoom_;
}

std::span<uint8_t> LogReadWindow::FetchWritable(uint64_t pos, size_t length) {
    length = std::min(length, kMaxFetch);
    if (pos < start_ || pos - start_ + length > length_) {
        uint8_t* readArea = buffer_.get() + carryRoom_;
        const uint64_t end = start_ + length_;
        // Going on forward from inside the window: its tail moves before the read area and the
        // read continues where the last one ended.
        const uint64_t tail = pos >= start_ && pos <= end ? end - pos : UINT64_MAX;
        if (length_ && tail <= carryRoom_ && end < source_.Size()) {
            std::memmove(readArea - tail, data_ + (pos - start_), static_cast<size_t>(tail));
            const size_t n = source_.ReadAt(end, readArea, windowSize_);
            data_ = readArea - tail;
            length_ = static_cast<size_t>(tail) + n;
            bytesRead_ += n;
        } else {
            data_ = readArea;
            length_ = source_.ReadAt(pos, readArea, windowSize_);
            bytesRead_ += length_;
        }
        start_ = pos;
    }
    // pos lies in the window now (or the window is empty); past a short window's end the range is clipped.
    const size_t at = static_cast<size_t>(pos - start_);
    if (at >= length_) return {};
    return std::span<uint8_t>(data_ + at, std::min(length, length_ - at));
}

}  // namespace kestrane
