#pragma once
// Where the log bytes come from: the open log file, or memory (tests, fuzzing). A file is also
// mapped read-only when the system allows it, so that probing every 8192 bytes for a VLF header
// costs no system call per probe.
#include <cstdint>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/BinaryFile.h"
#include "platform/ByteReader.h"

namespace kestrane {

class LogByteSource {
public:
    virtual ~LogByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads up to length bytes at offset; returns the count read (short at the end).
    virtual size_t ReadAt(uint64_t offset, void* out, size_t length) const = 0;
    // The whole source as one view when it is mapped or in memory; empty otherwise.
    virtual ByteView Mapped() const { return ByteView(); }
};

class MemoryLogSource : public LogByteSource {
public:
    explicit MemoryLogSource(ByteView bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    size_t ReadAt(uint64_t offset, void* out, size_t length) const override;
    ByteView Mapped() const override { return bytes_; }

private:
    ByteView bytes_;
};

// Reads through an open BinaryFile (which the caller keeps open for later re-reads).
class FileLogSource : public LogByteSource {
public:
    explicit FileLogSource(const BinaryFile& file);
    ~FileLogSource() override;
    FileLogSource(const FileLogSource&) = delete;
    FileLogSource& operator=(const FileLogSource&) = delete;

    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, void* out, size_t length) const override;
    ByteView Mapped() const override { return ByteView(map_, map_ ? static_cast<size_t>(size_) : 0); }

private:
    const BinaryFile& file_;
    uint64_t size_ = 0;
    const uint8_t* map_ = nullptr;
};

}  // namespace kestrane
