#pragma once
// Serves the block walk from large sequential reads into one reused buffer, sized to the source
// when the source is smaller than a window (nothing is zero-filled: only what a read wrote is looked
// at). Windows are small enough that what a read brings in is still in the cache when examined.
#include <cstdint>
#include <memory>

#include "logreader/LogByteSource.h"
#include "platform/ByteReader.h"

namespace kestrane {

class LogReadWindow {
public:
    explicit LogReadWindow(const LogByteSource& source, size_t windowSize = size_t{512} << 10);

    // Up to `length` (at most 64 KiB) bytes at `pos`: fewer at the end of the source or after a
    // failed read. Valid until the next call.
    ByteView Fetch(uint64_t pos, size_t length);
    const LogByteSource& Source() const { return source_; }

private:
    const LogByteSource& source_;
    size_t windowSize_;
    std::unique_ptr<uint8_t[]> bytes_;
    uint64_t start_ = 0;
    size_t length_ = 0;
};

}  // namespace kestrane
