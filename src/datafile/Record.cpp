#include "datafile/Record.h"

#include <algorithm>

#include "datafile/MdfFile.h"
#include "datafile/PrimaryRecordPage.h"
#include "platform/RunState.h"

namespace kestrane {

namespace {

// Largest offset or length a value inside one page can have.
constexpr int32_t kPageLimit = 8191;
// Sparse-column vectors are complex values whose type word is 5; 16-byte complex values are
// large-value pointers and never a vector.
constexpr int32_t kSparseVectorType = 5;
constexpr uint32_t kPointerValueLength = 16;

// A copy of [offset, offset + length) padded with `pad` zero bytes; empty when it does not fit.
std::vector<uint8_t> PaddedCopy(ByteView row, size_t offset, size_t length, size_t pad) {
    std::vector<uint8_t> out;
    if (length == 0 || !row.fits(offset, length)) return out;
    out.assign(length + pad, 0);
    row.copy(offset, length, out.data());
    return out;
}

}  // namespace

// ---- CRecord ----------------------------------------------------------------------------------

CRecord::CRecord(const RecordPage* owner)
    : columnValues(owner ? owner->memory() : std::pmr::get_default_resource()) {}

void CRecord::AttachOwner(const RecordPage* owner) {
    ownerPage = owner;
    state_ = owner ? &owner->state() : nullptr;
}

bool CRecord::includeDeletedRows() const { return state_ && state_->includeDeletedRows != 0; }

void CRecord::KeepBytes(ByteView row) {
    // A row in the page image needs no copy: the image lives as long as the page and its records.
    if (ownerPage && ownerPage->HoldsRowInPlace(row)) return;
    // Every view lies in `row`, which the record may outlive: move them to one copy of the bytes they reach.
    const uint8_t* base = row.data();
    size_t extent = 0;
    auto reach = [&](ByteView v) {
        if (!v.empty()) extent = std::max(extent, static_cast<size_t>(v.data() - base) + v.size());
    };
    const bool fixedInRow = fixedOwned_.empty();
    reach(rowCopy);
    if (fixedInRow) reach(fixedData);
    reach(nullBitmap);
    for (const ColumnValue& value : columnValues)
        if (value.owned.empty()) reach(value.data);
    if (extent == 0) return;
    held_.assign(base, base + extent);
    const uint8_t* home = held_.data();
    auto move = [&](ByteView& v) {
        if (!v.empty()) v = ByteView(home + (v.data() - base), v.size());
    };
    move(rowCopy);
    if (fixedInRow) move(fixedData);
    move(nullBitmap);
    for (ColumnValue& value : columnValues)
        if (value.owned.empty()) move(value.data);
}

void CRecord::ReportVariableDataStart(int32_t start) {
    if (state_) state_->rowSplice.variableDataStart = start;
}

int32_t CRecord::ReadNullBitmap(ByteView row, int32_t at) {
    const int32_t size = (std::max<int32_t>(columnCount, 0) + 7) / 8;
    if (at >= 1 && at <= room && size <= room - at) nullBitmap = row.sub(static_cast<size_t>(at), size);
    return at + size;
}

int32_t CRecord::ParseVariableColumns(ByteView row, int32_t at, bool fixedPartPresent) {
    if (!fixedPartPresent && !hasNullBitmap) {
        variableCount = columnCount;
    } else {
        variableCount = (at >= 0 && at + 2 <= room) ? static_cast<int16_t>(row.getOr<uint16_t>(at, 0)) : 0;
        if (at < 0 || !row.fits(static_cast<size_t>(at), 2)) cut = 1;
        at += 2;
    }
    if (columnCount - variableCount < 0) {
        variableCount = 0;
        variablePartRefused = 1;
        at = 0;
    }
    if (variableCount >= 1024) variablePartRefused = 1;
    if (variableCount <= 0 || variableCount >= 1024) return at;

    const int32_t arrayStart = at;
    if (arrayStart < 0 || !row.fits(static_cast<size_t>(arrayStart), 2 * static_cast<size_t>(variableCount))) cut = 1;
    const auto storedOffset = [&](int32_t k) -> uint16_t {
        const int32_t pos = arrayStart + 2 * k;
        return (pos >= 0 && pos + 2 <= room) ? row.getOr<uint16_t>(static_cast<size_t>(pos), 0) : 0;
    };
    at += 2 * variableCount;
    ReportVariableDataStart(at);

    columnValues.reserve(columnValues.size() + variableCount);
    for (int32_t k = 0; k < variableCount; ++k) {
        const uint16_t stored = storedOffset(k);
        const int32_t end = stored & 0x7FFF;
        const int32_t length = end - at;
        ColumnValue& value = columnValues.emplace_back();
        value.complex = static_cast<uint8_t>(stored >> 15);
        if (static_cast<size_t>(end) > row.size()) cut = 1;
        if (end <= room && end <= kPageLimit && length > 0 && length <= kPageLimit && at >= 1 && at <= kPageLimit) {
            value.data = row.sub(static_cast<size_t>(at), static_cast<size_t>(length));
            if (value.hasData()) {
                value.length = static_cast<uint32_t>(length);
                at = end;
            }
        }
        // A refused value keeps its stated length, so that it is not taken for an empty one.
        if (!value.hasData() && length > 0) value.length = static_cast<uint32_t>(length);
        if (value.hasData() && value.complex && value.length != kPointerValueLength) {
            int32_t typeWord = value.data.getOr<uint8_t>(0, 0);
            if (typeWord == 0) typeWord = value.data.getOr<uint16_t>(0, 0);
            if (typeWord == kSparseVectorType) {
                sparseVector = std::make_unique<SparseVector>();
                sparseVector->Parse(value.data.clip(0, value.length));
            }
        }
    }
    return at;
}

int32_t CRecord::ParseLongDataRegion(ByteView row, int32_t p) {
    if (p < 0 || p >= room) return p;
    longRegionStart = p;
    const uint8_t flags = row.getOr<uint8_t>(static_cast<size_t>(p), 0);
    int32_t at = p + 1;
    size_t entries = 0;
    if (flags & 0x01) {
        at += 2;
        const int32_t n = (p + 1 < room - 2) ? row.getOr<uint16_t>(static_cast<size_t>(p) + 1, 0) : 0;
        if (n > 0 && n <= columnCount) {
            longOffsets.clear();
            for (int32_t k = 0; k < n; ++k) {
                const size_t pos = static_cast<size_t>(p) + 3 + 2 * static_cast<size_t>(k);
                if (static_cast<int64_t>(pos) + 2 > room) continue;
                const auto stored = row.u16(pos);
                if (!stored) continue;
                longOffsets.push_back({static_cast<uint16_t>(*stored & 0x7FFF), static_cast<uint8_t>(*stored >> 15)});
            }
            entries = longOffsets.size();
            variableCount = static_cast<int16_t>(entries);
            at += 2 * n;
        }
    }
    at += (std::max<int32_t>(columnCount, 1) - 1) / 30;

    if (variableCount <= 0 || variableCount >= 1024 || static_cast<size_t>(variableCount) != entries) return at;
    int32_t previousEnd = 0;
    for (const VarColumnOffset& entry : longOffsets) {
        const int32_t length = static_cast<int32_t>(entry.endOffset) - previousEnd;
        if (length < 1) continue;
        ColumnValue value;
        value.complex = entry.complex;
        if (length < room && length < 8192 && previousEnd >= 0 && previousEnd < 8192 && at >= 0 && at + length < 8192 &&
            at + length <= room) {
            value.data = row.sub(static_cast<size_t>(at), static_cast<size_t>(length));
        }
        // A refused value keeps its stated length, so that it is not taken for an empty one.
        value.length = static_cast<uint32_t>(length);
        if (value.hasData()) {
            previousEnd = entry.endOffset;
            at += length;
        }
        columnValues.push_back(std::move(value));
    }
    return at;
}

// ---- CPrimaryRecord ---------------------------------------------------------------------------

bool CPrimaryRecord::Begin(ByteView row, const RecordPage* owner, uint16_t roomIn, ByteView& bounded) {
    AttachOwner(owner);
    room = roomIn;
    bounded = row.clip(0, room);
    const auto statusA = bounded.u8(0);
    if (!statusA) {
        invalid = 1;
        return false;
    }
    SetStatusA(*statusA);
    return true;
}

CPrimaryRecord::CPrimaryRecord(ByteView row, const RecordPage* owner, uint16_t roomIn, RecordForm form)
    : CRecord(owner) {
    ByteView bounded;
    if (!Begin(row, owner, roomIn, bounded)) return;
    switch (form) {
        case RecordForm::Cd:
            compressed = 1;
            if (Accept(form)) ParseCompressedRecord(bounded);
            return;
        case RecordForm::RawRow:
            ParseFixedVar(bounded, Mode::RawRow);
            return;
        case RecordForm::SlotWalk:
            if (!Accept(form)) return;
            if (compressed)
                ParseCompressedRecord(bounded);
            else
                ParseFixedVar(bounded, Mode::SlotWalk);
            return;
    }
}

CPrimaryRecord::CPrimaryRecord(ByteView row, const RecordPage* owner, int32_t& length) : CRecord(owner) {
    length = -1;
    ByteView bounded;
    if (!Begin(row, owner, static_cast<uint16_t>(kScanRoom), bounded)) return;
    if (!Accept(RecordForm::SlotWalk) || compressed || recordType == 2) return;
    if (ParseFixedVar(bounded, Mode::Scan)) length = cursor;
}

void CPrimaryRecord::SetStatusA(uint8_t a) {
    compressed = a & 0x01;
    recordType = (a >> 1) & 0x07;
    hasNullBitmap = (a >> 4) & 0x01;
    hasVariableColumns = (a >> 5) & 0x01;
    versionTag = (a >> 6) & 0x01;
    const uint8_t typeBits = a & 0x0E;
    ghost = (typeBits == 10 || typeBits == 12 || recordType >= 7) && !includeDeletedRows() ? 1 : 0;
}

void CPrimaryRecord::SetStatusB(uint8_t b) { statusBFlag = b == 1 ? 1 : 0; }

bool CPrimaryRecord::Accept(RecordForm form) {
    if (ownerPage) {
        if (const CPage_Header* header = ownerPage->header()) {
            if (static_cast<int32_t>(header->thisPage.pageId) < 0 || header->pageType > 17) {
                invalid = 1;
                return false;
            }
        }
    }
    if (form == RecordForm::Cd) return true;
    if (recordType <= 2 || (recordType == 6 && includeDeletedRows())) return true;
    invalid = 1;
    return false;
}

bool CPrimaryRecord::FollowForwardingStub(ByteView stub, std::vector<uint8_t>& target) {
    // A stub met while resolving a stub is not followed again: that is how a stub pointing at itself
    // (or a ring of stubs) stays one page read deep.
    if (!ownerPage || !ownerPage->file() || ownerPage->forwardDepth() > 0) return false;
    const auto pageId = stub.u32(1);
    const auto fileId = stub.u16(5);
    const auto slot = stub.i16(7);
    if (!pageId || !fileId || !slot || *slot < 0) return false;
    CMdfFile* file = ownerPage->file();
    PageBuffer image = file->ReadPage(PageAddress(*fileId, *pageId));
    if (!image) return false;
    PrimaryRecordPage forwarded(std::move(image), file, ownerPage->state(), ForwardedSlot{*slot},
                                ownerPage->forwardDepth() + 1);
    const CPrimaryRecord* record = forwarded.PrimaryRecordAt(0);
    if (!record || record->cursor < 1 || !record->hasRowCopy()) return false;
    target.assign(record->rowCopy.begin(), record->rowCopy.end());
    target.push_back(0);
    return true;
}

bool CPrimaryRecord::ParseFixedVar(ByteView row, Mode mode) {
    std::vector<uint8_t> forwardedRow;  // freed when the parse ends
    if (mode == Mode::SlotWalk && recordType == 2 && !(state_ && state_->rowSplice.columnSpliceMode)) {
        if (!FollowForwardingStub(row, forwardedRow)) {
            fixedLength = kBrokenForwardLength;
            return false;
        }
        // The forwarded row is parsed in its own buffer, whose size bounds it (not the stub's room).
        room = static_cast<uint16_t>(std::min<size_t>(forwardedRow.size(), kPageLimit + 1));
        row = ByteView(forwardedRow).clip(0, room);
        SetStatusA(forwardedRow[0]);
        recordType = 2;
    }

    const KeepBytesOnExit keep(*this, row);
    const auto fixedEnd = row.u16(2);
    SetStatusB(row.getOr<uint8_t>(1, 0));
    if (!fixedEnd) {
        cut = 1;
        return false;
    }
    fixedLength = static_cast<int16_t>(*fixedEnd - 4);
    cursor = 4;
    if (fixedLength > 0 && static_cast<size_t>(*fixedEnd) > row.size()) cut = 1;
    bool fixedPartPresent = false;
    if (mode == Mode::Scan) {
        if (fixedLength > 0 && fixedLength < kScanRoom && fixedLength <= room) {
            cursor += fixedLength;
            fixedPartPresent = true;
        }
    } else if (fixedLength >= 1 && fixedLength <= kMaxFixedLength && fixedLength <= room) {
        fixedData = row.sub(4, static_cast<size_t>(fixedLength));
        if (hasFixedData()) {
            cursor += fixedLength;
            fixedPartPresent = true;
        }
    }
    if (mode == Mode::RawRow && 4 + static_cast<int32_t>(fixedLength) > room) return false;

    const auto count = row.i16(static_cast<size_t>(cursor));
    if (!count) {
        cut = 1;
        return false;
    }
    columnCount = *count;
    if (columnCount < 1 || columnCount > kMaxFixedVarColumns) return false;
    cursor += 2;
    if (hasNullBitmap) {
        cursor = ReadNullBitmap(row, cursor);
        if (nullBitmap.empty()) cut = 1;
    }
    if (hasVariableColumns) cursor = ParseVariableColumns(row, cursor, fixedPartPresent);
    if (mode != Mode::Scan && cursor > 0 && cursor <= room) rowCopy = row.sub(0, static_cast<size_t>(cursor));
    return true;
}

void CPrimaryRecord::ParseCompressedRecord(ByteView row) {
    const auto countByte = row.u8(1);
    if (!countByte) {
        invalid = 1;
        return;
    }
    const int32_t width = *countByte < 0x80 ? 1 : 2;
    const int32_t count = width == 1 ? *countByte : row.getOr<uint16_t>(1, 0);
    if (count == 0 || count > kMaxCdColumns) {
        invalid = 1;
        return;
    }

    const KeepBytesOnExit keep(*this, row);
    cdCodes.clear();
    cdCodes.reserve(static_cast<size_t>(count));
    for (int32_t pos = 1 + width; static_cast<int32_t>(cdCodes.size()) < count && pos < room; ++pos) {
        const auto byte = row.u8(static_cast<size_t>(pos));
        if (!byte) break;
        cdCodes.push_back(*byte & 0x0F);
        if (static_cast<int32_t>(cdCodes.size()) < count) cdCodes.push_back(*byte >> 4);
    }

    if (static_cast<int32_t>(cdCodes.size()) < count) cut = 1;

    const int32_t clusters = (count - 1) / 30;
    const int32_t codeBytes = (count + 1) / 2;
    cursor = 1 + width + clusters + codeBytes;
    int32_t shortLength = 0;
    int32_t longCount = 0;
    for (int code : cdCodes) {
        if (code >= 2 && code <= 9) shortLength += code - 1;
        else if (code == 12) shortLength += 1;
        else if (code == 10) ++longCount;
    }
    fixedLength = static_cast<int16_t>(shortLength);
    cdShortLengthWithClusters = static_cast<int16_t>(shortLength + clusters);
    variableCount = static_cast<int16_t>(longCount);

    if (shortLength > 0 && recordType != 3 && static_cast<size_t>(cursor) + static_cast<size_t>(shortLength) > row.size())
        cut = 1;
    if (shortLength > 0 && shortLength < kScanRoom && recordType != 3) {
        if (shortLength <= room && cursor + shortLength <= kMaxFixedLength && cursor + shortLength <= room) {
            fixedData = row.sub(static_cast<size_t>(cursor), static_cast<size_t>(shortLength));
            if (hasFixedData()) cursor += shortLength;
        }
    }
    columnCount = static_cast<int16_t>(count);
    if (recordType == 3) return;
    if (hasNullBitmap) cursor = ReadNullBitmap(row, cursor);
    if (hasVariableColumns) cursor = ParseLongDataRegion(row, cursor);
}

// ---- TextRecord -------------------------------------------------------------------------------

TextRecord::TextRecord(ByteView row, const RecordPage* owner, int32_t limit) {
    AttachOwner(owner);
    room = static_cast<uint16_t>(std::clamp(limit, 0, kPageLimit + 1));
    const auto statusA = row.u8(0);
    if (!statusA) {
        invalid = 1;
        return;
    }
    recordType = (*statusA >> 1) & 0x07;
    hasNullBitmap = (*statusA >> 4) & 0x01;
    hasVariableColumns = (*statusA >> 5) & 0x01;
    versionTag = (*statusA >> 6) & 0x01;
    statusBFlag = row.getOr<uint8_t>(1, 0) == 1 ? 1 : 0;
    dataLength = static_cast<int32_t>(row.getOr<uint16_t>(2, 0)) - 4;
    if (dataLength >= 1 && dataLength < limit) dataCopy = PaddedCopy(row, 4, static_cast<size_t>(dataLength), 0);
    const ByteView data(dataCopy);
    if (!dataCopy.empty() && dataLength >= 10) {
        blobId = data.getOr<uint64_t>(0, 0);
        largeValueType = data.getOr<uint16_t>(8, 0);
        dataLength -= 10;
    } else {
        largeValueType = 8;
    }
    cursor = 4 + static_cast<int32_t>(dataCopy.size());
}

}  // namespace kestrane
