#include "logreader/LogByteSource.h"

#include <algorithm>
#include <cstring>

namespace kestrane {

size_t MemoryLogSource::ReadAt(uint64_t offset, void* out, size_t length) const {
    if (offset >= bytes_.size()) return 0;
    const size_t n = std::min<uint64_t>(length, bytes_.size() - offset);
    if (n) std::memcpy(out, bytes_.data() + offset, n);
    return n;
}

size_t FileLogSource::ReadAt(uint64_t offset, void* out, size_t length) const {
    if (offset >= size_) return 0;
    return file_.readAt(offset, out, std::min<uint64_t>(length, size_ - offset));
}

size_t StoppableLogSource::ReadAt(uint64_t offset, void* out, size_t length) const {
    if (state_.stopRequested()) return 0;
    return FileLogSource::ReadAt(offset, out, length);
}

}  // namespace kestrane
