#pragma once
// Builds synthetic log files byte by byte: VLF headers, blocks with sector stamps and slot arrays,
// row-operation and begin-transaction records. Shared by the tests, the benchmark and fuzz seeds.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../datafile/RecordFixtures.h"

namespace kestrane::test {


// A CLogSeqNo as the records hold it: VLF sequence, block offset / 512 from the VLF start, slot (a
// block's first record is slot 1).
struct Lsn {
    uint32_t vlf = 0, block = 0;
    uint16_t slot = 0;
};
inline void PutLsn(std::vector<uint8_t>& b, size_t at, Lsn l) {
    PutU32(b, at, l.vlf);
    PutU32(b, at + 4, l.block);
    PutU16(b, at + 8, l.slot);
}
// The head every record carries: the transaction's previous record, flags, transaction id.
inline void PutHead(std::vector<uint8_t>& r, uint64_t transaction, Lsn previous = {}, uint16_t flags = 0) {
    PutLsn(r, 0x04, previous);
    PutU16(r, 0x0E, flags);
    PutU32(r, 0x10, static_cast<uint32_t>(transaction));
    PutU16(r, 0x14, static_cast<uint16_t>(transaction >> 32));
}

struct RowRecordSpec {
    uint8_t operation = 2;
    uint8_t context = 2;
    uint64_t transaction = 0;
    uint16_t flags = 0;          // 1: a compensation record
    Lsn previous, pagePrevious;
    uint64_t rowsetId = 0;
    uint32_t page = 0;
    uint16_t file = 1;
    uint16_t slot = 0;
    uint16_t offsetInRow = 0;
    std::vector<std::vector<uint8_t>> elements;
    size_t padTo = 0;            // total length at least this
};

inline std::vector<uint8_t> RowRecord(const RowRecordSpec& s) {
    const size_t c = s.elements.size();
    std::vector<uint8_t> r(0x40 + 2 * c, 0);
    PutU16(r, 0x02, static_cast<uint16_t>(0x40 + 2 * c));
    PutHead(r, s.transaction, s.previous, s.flags);
    PutLsn(r, 0x24, s.pagePrevious);
    r[0x16] = s.operation;
    r[0x17] = s.context;
    PutU32(r, 0x18, s.page);
    PutU16(r, 0x1C, s.file);
    PutU16(r, 0x1E, s.slot);
    PutU64(r, 0x30, s.rowsetId);
    PutU16(r, 0x38, s.offsetInRow);
    PutU16(r, 0x3E, static_cast<uint16_t>(c));
    for (size_t e = 0; e < c; ++e) PutU16(r, 0x40 + 2 * e, static_cast<uint16_t>(s.elements[e].size()));
    if (s.operation == 2) r.resize(r.size() + 2, 0);
    for (size_t e = 0; e < c; ++e) {
        // Every element starts 4-aligned from the record's start.
        while (r.size() % 4) r.push_back(0);
        r.insert(r.end(), s.elements[e].begin(), s.elements[e].end());
    }
    if (r.size() < s.padTo) r.resize(s.padTo, 0);
    return r;
}

// A begin-transaction record: fixed part of 0x40 bytes, then the field count, lengths, padding to a
// 4-byte boundary, the name; `fields` >= 1 adds empty further fields.
inline std::vector<uint8_t> BeginXactRecord(const std::u16string& name, uint64_t beginTime, uint16_t fields = 2,
                                            size_t padTo = 200, uint64_t transaction = 0) {
    std::vector<uint8_t> r(0x40, 0);
    PutU16(r, 0x02, 0x40);
    PutHead(r, transaction);
    r[0x16] = 0x80;
    PutU64(r, 0x28, beginTime);
    const size_t var = r.size();
    r.resize(var + 2 + 2 * fields, 0);
    PutU16(r, var, fields);
    if (fields >= 1) PutU16(r, var + 2, static_cast<uint16_t>(name.size() * 2));
    while ((r.size() - var) % 4) r.push_back(0);
    if (fields >= 1) {
        for (char16_t ch : name) {
            r.push_back(static_cast<uint8_t>(ch & 0xFF));
            r.push_back(static_cast<uint8_t>(ch >> 8));
        }
    }
    if (r.size() < padTo) r.resize(padTo, 0);
    return r;
}

// A commit (0x81) or abort (0x82) record.
inline std::vector<uint8_t> EndXactRecord(uint64_t transaction, uint8_t operation = 0x81) {
    std::vector<uint8_t> r(0x30, 0);
    PutU16(r, 0x02, 0x30);
    PutHead(r, transaction);
    r[0x16] = operation;
    return r;
}

// Moves the first byte of each whole sector of a block to its end and puts a stamp in its place.
inline void StampBlock(uint8_t* b, size_t size) {
    for (size_t i = 0; i < size / 512; ++i) {
        b[size - 1 - i] = b[i * 512];
        b[i * 512] = 0x50;
    }
}

// A block of the given layout code holding `records`, with stamps applied (or not, for a caller that
// changes it first). minSize rounds up.
inline std::vector<uint8_t> LogBlock(uint32_t vlfSequence, const std::vector<std::vector<uint8_t>>& records,
                                     uint8_t layout = 4, size_t minSize = 512, bool stamp = true) {
    std::vector<uint8_t> b(28, 0);
    b[0] = layout;
    std::vector<uint16_t> offsets;
    for (const auto& r : records) {
        offsets.push_back(static_cast<uint16_t>(b.size()));
        b.insert(b.end(), r.begin(), r.end());
        while (b.size() % 4) b.push_back(0);
    }
    // Room behind the records so that the last one is examinable (192 bytes inside the block).
    size_t base = b.size() + 2 * records.size();
    size_t size = base + 200;
    size = std::max(size, minSize);
    size = (size + 511) / 512 * 512;
    if (size > 0xFE00) size = 0xFE00;
    b.resize(size, 0);
    for (size_t j = 0; j < offsets.size(); ++j) PutU16(b, base - 2 - 2 * j, offsets[j]);
    PutU16(b, 0x02, static_cast<uint16_t>(records.size()));
    PutU16(b, 0x04, static_cast<uint16_t>(base));
    PutU16(b, 0x06, static_cast<uint16_t>(size));
    PutU32(b, 0x0C, vlfSequence);
    if (stamp) StampBlock(b.data(), size);
    return b;
}

// A log image: VLF headers at multiples of 8192, blocks from VLF offset + 0x2000.
class LogImage {
public:
    // Places a VLF header at `offset` (multiple of 8192) and its blocks after it; returns the end.
    size_t AddVlf(size_t offset, uint32_t sequence, const std::vector<std::vector<uint8_t>>& blocks,
                  uint64_t headerOffset = UINT64_MAX) {
        Ensure(offset + 0x2000);
        bytes[offset] = 0xAB;
        bytes[offset + 1] = 0x40;
        PutU32(bytes, offset + 4, sequence);
        PutU64(bytes, offset + 0x18, headerOffset == UINT64_MAX ? offset : headerOffset);
        return PutBlocks(offset, offset + 0x2000, blocks);
    }
    // Blocks at `pos` (with no header before them when pos is not its VLF's offset + 0x2000), each
    // with its CLogSeqNo block offset counted from `vlfOffset`.
    size_t PutBlocks(size_t vlfOffset, size_t pos, const std::vector<std::vector<uint8_t>>& blocks) {
        for (const auto& b : blocks) {
            Ensure(pos + b.size());
            std::memcpy(&bytes[pos], b.data(), b.size());
            PutU32(bytes, pos + 0x10, static_cast<uint32_t>((pos - vlfOffset) / 512));
            PutU16(bytes, pos + 0x14, 1);
            pos += b.size();
        }
        return pos;
    }
    void Ensure(size_t n) {
        if (bytes.size() < n) bytes.resize((n + 8191) / 8192 * 8192, 0);
    }
    std::vector<uint8_t> bytes;
};

}  // namespace kestrane::test
