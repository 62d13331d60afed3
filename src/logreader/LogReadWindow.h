#pragma once
// Serves the block walk from large sequential reads into two reused buffers: while the walk works
// in one, a reader thread fills the other with the stretch of the source that follows.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "logreader/LogByteSource.h"
#include "platform/ByteReader.h"

namespace kestrane {

class LogReadWindow {
public:
    // Without `readAhead` every window is read when it is needed, on the caller's thread (for
    // callers that already run several at once).
    explicit LogReadWindow(const LogByteSource& source, size_t windowSize = size_t{4} << 20, bool readAhead = true);
    ~LogReadWindow();
    LogReadWindow(const LogReadWindow&) = delete;
    LogReadWindow& operator=(const LogReadWindow&) = delete;

    // Up to `length` (at most 64 KiB) bytes at `pos`: fewer at the end of the source or after a
    // failed read. Valid until the next call.
    ByteView Fetch(uint64_t pos, size_t length);
    const LogByteSource& Source() const { return source_; }

private:
    struct Buffer {
        std::vector<uint8_t> bytes;
        uint64_t start = 0;
        size_t length = 0;
        bool Holds(uint64_t pos, size_t n) const { return pos >= start && pos - start + n <= length; }
    };
    void StartReadAhead();
    void WaitReadAhead();
    void ReaderLoop();

    const LogByteSource& source_;
    size_t windowSize_;
    Buffer current_, next_;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool pending_ = false;  // next_ is being filled
    bool quit_ = false;
    std::thread reader_;
};

}  // namespace kestrane
