#pragma once
// A script file that text is appended to through one large buffer: each text goes in as UTF-16LE and
// the buffer goes out in large writes. A write that does not reach the file whole is found at Flush,
// which then says how long the file really is, so that callers can tell which texts stand whole.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/BinaryFile.h"

namespace kestrane {

class BufferedScriptFile {
public:
    BufferedScriptFile() = default;
    BufferedScriptFile(const BufferedScriptFile&) = delete;
    BufferedScriptFile& operator=(const BufferedScriptFile&) = delete;

    // Opens the existing regular file at `path` for appending (dropping anything buffered for the
    // previous file); false when it is missing or cannot be opened.
    bool Open(const std::wstring& path);
    bool IsOpen() const { return file_.isOpen(); }

    // Adds the text's UTF-16LE code units to the buffer.
    void Append(std::wstring_view text);
    // The file's length once the buffer is out.
    uint64_t Length() const { return flushed_ + used_; }
    size_t Buffered() const { return used_; }

    // Writes the buffer out and empties it; false when it did not reach the file whole. Length() is
    // then the file's real length.
    bool Flush();

private:
    BinaryFile file_;
    uint64_t flushed_ = 0;  // the file's length before the buffer
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;  // the bytes of buffer_ waiting for the file
};

}  // namespace kestrane
