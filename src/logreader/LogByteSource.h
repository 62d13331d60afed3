#pragma once
// Where the log bytes come from: the open log file, or memory (tests, fuzzing). The file is only
// ever read, never mapped: a mapped file that shrinks or fails under us would kill the process.
#include <cstdint>
#include <cstddef>

#include "platform/BinaryFile.h"
#include "platform/ByteReader.h"
#include "platform/RunState.h"

namespace kestrane {

class LogByteSource {
public:
    virtual ~LogByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads up to length bytes at offset; returns the count read (short at the end or on an error).
    virtual size_t ReadAt(uint64_t offset, void* out, size_t length) const = 0;
};

class MemoryLogSource : public LogByteSource {
public:
    explicit MemoryLogSource(ByteView bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    size_t ReadAt(uint64_t offset, void* out, size_t length) const override;

private:
    ByteView bytes_;
};

// Reads through an open BinaryFile (which the caller keeps open for later re-reads). The size is
// taken once; reads past a later end of the file come back short.
class FileLogSource : public LogByteSource {
public:
    explicit FileLogSource(const BinaryFile& file) : file_(file), size_(file.isOpen() ? file.size() : 0) {}

    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, void* out, size_t length) const override;

private:
    const BinaryFile& file_;
    uint64_t size_ = 0;
};

// A file source that reads nothing more once the run's stop request is set: a scan over it ends at
// the next read, with what it found so far.
class StoppableLogSource : public FileLogSource {
public:
    StoppableLogSource(const BinaryFile& file, const RunState& state) : FileLogSource(file), state_(state) {}
    size_t ReadAt(uint64_t offset, void* out, size_t length) const override;

private:
    const RunState& state_;
};

}  // namespace kestrane
