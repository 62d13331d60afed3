#pragma once
// Serves the block walk from large sequential reads into one reused buffer, sized to the source
// when the source is smaller than a window (nothing is zero-filled: only what a read wrote is looked
// at). Windows are small enough that what a read brings in is still in the cache when examined.
// A block cut by the end of a window is completed by moving its first part to the front of the
// next read, so a forward walk reads each byte of the file once, in reads that follow each other.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "logreader/LogByteSource.h"
#include "platform/ByteReader.h"

namespace kestrane {

class LogReadWindow {
public:
    static constexpr size_t kDefaultSize = size_t{512} << 10;

    explicit LogReadWindow(const LogByteSource& source, size_t windowSize = kDefaultSize);

    // Up to `length` (at most 64 KiB) bytes at `pos`: fewer at the end of the source or after a
    // failed read. Valid until the next call.
    ByteView Fetch(uint64_t pos, size_t length) {
        const std::span<uint8_t> bytes = FetchWritable(pos, length);
        return ByteView(bytes.data(), bytes.size());
    }
    // The same bytes, which the caller may change for a while: whoever fetches them next expects
    // them as the source holds them.
    std::span<uint8_t> FetchWritable(uint64_t pos, size_t length);
    const LogByteSource& Source() const { return source_; }
    // The bytes read from the source so far.
    uint64_t BytesRead() const { return bytesRead_; }

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };

    const LogByteSource& source_;
    size_t carryRoom_;   // before the read area: room for the start of a block cut by a window's end
    size_t windowSize_;  // the read area
    std::unique_ptr<uint8_t, Free> buffer_;
    uint8_t* data_ = nullptr;  // the window's first byte, at file offset start_
    uint64_t start_ = 0;
    size_t length_ = 0;
    uint64_t bytesRead_ = 0;
};

}  // namespace kestrane
