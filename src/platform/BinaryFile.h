#pragma once
// The file stand-in for the framework's buffered file: positional and sequential reads of large blocks,
// and plain writes for the files the exports create. Errors are reported by return values.
#include <cstdint>
#include <string>
#include <vector>

namespace kestrane {

class BinaryFile {
public:
    enum class Mode { Read, CreateWrite, Append };

    BinaryFile() = default;
    ~BinaryFile();
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;
    BinaryFile(BinaryFile&& other) noexcept;
    BinaryFile& operator=(BinaryFile&& other) noexcept;

    bool open(const std::string& path, Mode mode = Mode::Read);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    uint64_t size() const;
    // Reads up to `length` bytes at `offset`; returns the count read (short at end of file, 0 on error).
    size_t readAt(uint64_t offset, void* out, size_t length) const;
    // Sequential read from the current position.
    size_t read(void* out, size_t length);
    bool seek(uint64_t offset);
    uint64_t position() const { return pos_; }
    bool write(const void* data, size_t length);
    bool flush();

private:
    int fd_ = -1;
    uint64_t pos_ = 0;
    std::string path_;
};

// Reads a whole file into memory; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out);

}  // namespace kestrane
