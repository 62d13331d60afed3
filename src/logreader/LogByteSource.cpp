#include "logreader/LogByteSource.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace kestrane {

size_t MemoryLogSource::ReadAt(uint64_t offset, void* out, size_t length) const {
    if (offset >= bytes_.size()) return 0;
    const size_t n = std::min<uint64_t>(length, bytes_.size() - offset);
    if (n) std::memcpy(out, bytes_.data() + offset, n);
    return n;
}

FileLogSource::FileLogSource(const BinaryFile& file) : file_(file), size_(file.isOpen() ? file.size() : 0) {
    if (size_ == 0 || size_ > SIZE_MAX) return;
    // The map is only an accelerator: when it cannot be made, every read goes through the file.
    int fd = ::open(file.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    void* m = ::mmap(nullptr, static_cast<size_t>(size_), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (m == MAP_FAILED) return;
    map_ = static_cast<const uint8_t*>(m);
    // The scan reads the file front to back once; large mappings save most page faults.
    ::madvise(m, static_cast<size_t>(size_), MADV_SEQUENTIAL);
#ifdef MADV_HUGEPAGE
    ::madvise(m, static_cast<size_t>(size_), MADV_HUGEPAGE);
#endif
}

FileLogSource::~FileLogSource() {
    if (map_) ::munmap(const_cast<uint8_t*>(map_), static_cast<size_t>(size_));
}

size_t FileLogSource::ReadAt(uint64_t offset, void* out, size_t length) const {
    if (offset >= size_) return 0;
    return file_.readAt(offset, out, std::min<uint64_t>(length, size_ - offset));
}

}  // namespace kestrane
