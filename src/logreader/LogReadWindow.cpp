#include "logreader/LogReadWindow.h"

#include <algorithm>

namespace kestrane {

namespace {
// A window holds at least two of the largest blocks (sizes are u16), so a block cut by the end of
// one window lies whole in the next, which starts at that block.
constexpr size_t kMaxFetch = size_t{1} << 16;
}  // namespace

LogReadWindow::LogReadWindow(const LogByteSource& source, size_t windowSize)
    : source_(source),
      windowSize_(std::max<size_t>(std::min<uint64_t>(windowSize, source.Size()), 2 * kMaxFetch)),
      bytes_(new uint8_t[windowSize_]) {}

ByteView LogReadWindow::Fetch(uint64_t pos, size_t length) {
    length = std::min(length, kMaxFetch);
    if (pos < start_ || pos - start_ + length > length_) {
        start_ = pos;
        length_ = source_.ReadAt(pos, bytes_.get(), windowSize_);
    }
    // pos lies in the window now (or the window is empty); past a short window's end the range is clipped.
    return ByteView(bytes_.get(), length_).clip(static_cast<size_t>(pos - start_), length);
}

}  // namespace kestrane
