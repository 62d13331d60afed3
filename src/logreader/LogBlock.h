#pragma once
// One log block: its 28-byte header, the undoing of its sector stamps and its slot array.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "logreader/LogFormat.h"
#include "platform/ByteReader.h"

namespace kestrane {

struct LogBlockHeader {
    uint16_t recordCount = 0;
    uint16_t slotBase = 0;
    uint16_t size = 0;
    CLogSeqNo lsn;  // lsn.vlfSequence is the VLF the block belongs to

    // Nullopt when fewer than 28 bytes are given.
    static std::optional<LogBlockHeader> Parse(ByteView bytes);
};

// Puts back the true first byte of each whole 512-byte sector (stored at size - 1 - i).
void UndoSectorStamps(uint8_t* block, size_t size);

// Undoes the sector stamps of a whole block in its own bytes (as UndoSectorStamps does) for as long
// as it lives, then puts the stamps back: the bytes read as stored again to whoever reads them next.
// Reads of the block meanwhile need no stamp checks.
class SectorStampsUndone {
public:
    explicit SectorStampsUndone(std::span<uint8_t> block)
        : block_(block.data()), sectors_(std::min(block.size() / logfmt::kSectorSize, kMaxSectors)) {
        const size_t size = block.size();
        for (size_t i = 0; i < sectors_; ++i) {
            stamps_[i] = block_[i * logfmt::kSectorSize];
            block_[i * logfmt::kSectorSize] = block_[size - 1 - i];
        }
    }
    ~SectorStampsUndone() {
        for (size_t i = 0; i < sectors_; ++i) block_[i * logfmt::kSectorSize] = stamps_[i];
    }
    SectorStampsUndone(const SectorStampsUndone&) = delete;
    SectorStampsUndone& operator=(const SectorStampsUndone&) = delete;

private:
    static constexpr size_t kMaxSectors = 128;  // a block is at most 65535 bytes
    uint8_t* block_;
    size_t sectors_;
    uint8_t stamps_[kMaxSectors];
};

// Byte range of one record inside its block.
struct LogRecordExtent {
    uint32_t start = 0;
    uint32_t end = 0;  // exclusive, clipped to [start, block size]
};

// One block's bytes with bounds-checked access. The bytes are either as stored (`stamped`: the true
// first byte of each sector is put back on every read, so a scan needs no copy of the block) or
// with the stamps already undone. They may end before the block does (at the end of the file): the
// missing bytes read as zero.
class LogBlockView {
public:
    LogBlockView() = default;
    LogBlockView(ByteView bytes, const LogBlockHeader& header, bool stamped = false)
        : bytes_(bytes.clip(0, header.size)), header_(header),
          stampedEnd_(stamped ? size_t{header.size} / logfmt::kSectorSize * logfmt::kSectorSize : 0) {}

    // The bytes as given (stamped or not, possibly short).
    ByteView bytes() const { return bytes_; }
    // True when the bytes hold the whole block with no stamp: every offset below Size() reads as it lies.
    bool Plain() const { return stampedEnd_ == 0 && bytes_.size() == Size(); }
    const LogBlockHeader& header() const { return header_; }
    size_t Size() const { return header_.size; }
    uint16_t RecordCount() const { return header_.recordCount; }
    // Record layout code (first byte of the block).
    uint8_t Layout() const { return Byte(0); }

    uint8_t Byte(size_t at) const {
        if (at < stampedEnd_ && at % logfmt::kSectorSize == 0) return TrueSectorByte(at);
        return bytes_.getOr<uint8_t>(at, 0);
    }
    template <typename T>
    T Get(size_t at) const {
        if (stampedEnd_ == 0 || (at % logfmt::kSectorSize != 0 && at % logfmt::kSectorSize + sizeof(T) <= logfmt::kSectorSize))
            return bytes_.getOr<T>(at, 0);
        uint8_t tmp[sizeof(T)];
        CopyOut(at, sizeof tmp, tmp);
        T v;
        std::memcpy(&v, tmp, sizeof v);
        return v;
    }
    // Copies [from, from + length) of the block into out, stamps undone; zero outside the bytes.
    void CopyOut(size_t from, size_t length, uint8_t* out) const;
    // The same for a short range read per record: at most one stamp lies inside it.
    template <size_t N>
    void CopySmall(size_t from, uint8_t (&out)[N]) const {
        static_assert(N < logfmt::kSectorSize);
        if (!bytes_.fits(from, N)) return CopyOut(from, N, out);
        std::memcpy(out, bytes_.data() + from, N);
        const size_t toStamp = (logfmt::kSectorSize - from % logfmt::kSectorSize) % logfmt::kSectorSize;
        if (toStamp < N && from + toStamp < stampedEnd_) out[toStamp] = TrueSectorByte(from + toStamp);
    }
    // [from, from + length) of the block, stamps undone: a view of the bytes themselves when no
    // stamp lies inside and they are all there, else a copy in `scratch`.
    ByteView Range(size_t from, size_t length, std::vector<uint8_t>& scratch) const {
        return StampFree(from, length) ? ByteView(bytes_.data() + from, length) : RangeCopy(from, length, scratch);
    }
    // True when [from, from + length) lies in the bytes with no stamp inside: it reads as it lies.
    bool StampFree(size_t from, size_t length) const {
        const size_t firstStamp = (from + logfmt::kSectorSize - 1) / logfmt::kSectorSize * logfmt::kSectorSize;
        return (firstStamp >= stampedEnd_ || firstStamp - from >= length) && bytes_.fits(from, length);
    }

    // Offset of record j: the u16 at base - 2 - 2j, 0 when that position is outside the block.
    uint32_t SlotOffset(uint32_t j) const {
        const int64_t at = int64_t{header_.slotBase} - 2 - 2 * int64_t{j};
        if (at < 0 || static_cast<uint64_t>(at) + 2 > Size()) return 0;
        return Get<uint16_t>(static_cast<size_t>(at));
    }
    // The offsets of all records, record j at slots[n - 1 - j] (the array as the block stores it):
    // read whole when the array lies in the bytes, else one by one as SlotOffset reads them.
    void SlotArray(std::vector<uint16_t>& slots) const {
        const size_t n = header_.recordCount, base = header_.slotBase;
        slots.resize(n);
        if (2 * n > base || base > Size() || !bytes_.fits(base - 2 * n, 2 * n)) {
            for (size_t j = 0; j < n; ++j) slots[n - 1 - j] = static_cast<uint16_t>(SlotOffset(static_cast<uint32_t>(j)));
            return;
        }
        if (n) std::memcpy(slots.data(), bytes_.data() + base - 2 * n, 2 * n);
        auto* raw = reinterpret_cast<uint8_t*>(slots.data());
        for (size_t at = (base - 2 * n + logfmt::kSectorSize - 1) / logfmt::kSectorSize * logfmt::kSectorSize;
             at < base && at < stampedEnd_; at += logfmt::kSectorSize)
            raw[at - (base - 2 * n)] = TrueSectorByte(at);
    }
    // Record j from its offset to the next record's offset (the last one: to base - 2n).
    LogRecordExtent Extent(uint32_t j) const;
    // The extent of a record from its offset to `end` (the next record's offset), clipped to the block.
    LogRecordExtent ExtentOf(uint32_t start, int64_t end) const {
        if (start >= Size()) return LogRecordExtent{start, start};
        return LogRecordExtent{start, static_cast<uint32_t>(std::clamp<int64_t>(end, start, static_cast<int64_t>(Size())))};
    }
    int64_t LastRecordEnd() const { return int64_t{header_.slotBase} - 2 * int64_t{header_.recordCount}; }
    // The scan looks at records whose first 192 bytes lie inside the block.
    bool Examinable(uint32_t j) const { return uint64_t{SlotOffset(j)} + logfmt::kRecordExamined <= Size(); }

private:
    ByteView RangeCopy(size_t from, size_t length, std::vector<uint8_t>& scratch) const;
    uint8_t TrueSectorByte(size_t at) const {
        return bytes_.getOr<uint8_t>(Size() - 1 - at / logfmt::kSectorSize, 0);
    }

    ByteView bytes_;
    LogBlockHeader header_;
    size_t stampedEnd_ = 0;  // stamps are undone below this offset (whole sectors only)
};

// Reads the block at `pos` of a log source into `buffer` (zero-filled past the end of the source),
// undoes its stamps and returns a view on it; nullopt when no block header can be read or the block
// is smaller than its header.
class LogByteSource;
std::optional<LogBlockView> ReadLogBlock(const LogByteSource& source, uint64_t pos, std::vector<uint8_t>& buffer);

}  // namespace kestrane
