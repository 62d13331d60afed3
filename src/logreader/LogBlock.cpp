#include "logreader/LogBlock.h"

#include <algorithm>

#include "logreader/LogByteSource.h"

namespace kestrane {

std::optional<LogBlockHeader> LogBlockHeader::Parse(ByteView bytes) {
    if (bytes.size() < logfmt::kBlockHeaderSize) return std::nullopt;
    LogBlockHeader h;
    h.recordCount = *bytes.u16(0x02);
    h.slotBase = *bytes.u16(0x04);
    h.size = *bytes.u16(0x06);
    h.lsn.Set(*bytes.u32(0x0C), *bytes.u32(0x10), *bytes.u16(0x14));
    return h;
}

void UndoSectorStamps(uint8_t* block, size_t size) {
    const size_t sectors = size / logfmt::kSectorSize;
    for (size_t i = 0; i < sectors; ++i) block[i * logfmt::kSectorSize] = block[size - 1 - i];
}

void LogBlockView::CopyOut(size_t from, size_t length, uint8_t* out) const {
    const size_t have = from < bytes_.size() ? std::min(length, bytes_.size() - from) : 0;
    if (have) bytes_.copy(from, have, out);
    if (have < length) std::memset(out + have, 0, length - have);
    if (from >= stampedEnd_) return;
    const size_t end = std::min(from + length, stampedEnd_);
    for (size_t at = (from + logfmt::kSectorSize - 1) / logfmt::kSectorSize * logfmt::kSectorSize; at < end;
         at += logfmt::kSectorSize)
        out[at - from] = TrueSectorByte(at);
}

ByteView LogBlockView::RangeCopy(size_t from, size_t length, std::vector<uint8_t>& scratch) const {
    scratch.resize(length);
    CopyOut(from, length, scratch.data());
    return ByteView(scratch);
}

LogRecordExtent LogBlockView::Extent(uint32_t j) const {
    return ExtentOf(SlotOffset(j), j + 1 < header_.recordCount ? int64_t{SlotOffset(j + 1)} : LastRecordEnd());
}

std::optional<LogBlockView> ReadLogBlock(const LogByteSource& source, uint64_t pos, std::vector<uint8_t>& buffer) {
    uint8_t head[logfmt::kBlockHeaderSize];
    if (source.ReadAt(pos, head, sizeof head) != sizeof head) return std::nullopt;
    auto header = LogBlockHeader::Parse(ByteView(head, sizeof head));
    if (!header || header->size < logfmt::kBlockHeaderSize) return std::nullopt;
    // The buffer is reused block after block: only what the read leaves short is cleared.
    buffer.resize(header->size);
    const size_t got = std::min<size_t>(source.ReadAt(pos, buffer.data(), buffer.size()), buffer.size());
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(got), buffer.end(), uint8_t{0});
    UndoSectorStamps(buffer.data(), buffer.size());
    return LogBlockView(ByteView(buffer), *header);
}

}  // namespace kestrane
