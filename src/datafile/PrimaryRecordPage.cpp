#include "datafile/PrimaryRecordPage.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/RunState.h"

namespace kestrane {

namespace {

// Rows start at the end of the page header; a room this large means an offset inside the header.
constexpr int32_t kMinRowOffset = static_cast<int32_t>(kPageHeaderSize);
constexpr int32_t kMaxRoom = static_cast<int32_t>(kPageSize) - kMinRowOffset;  // 8096
constexpr int32_t kScanEnd = static_cast<int32_t>(kPageSize) - 2;             // 8190

// Copies up to `count` bytes from src[srcPos..] to dst[dstPos..], clipped to both buffers.
void CopyClipped(std::vector<uint8_t>& dst, int64_t dstPos, ByteView src, int64_t srcPos, int64_t count) {
    if (count <= 0 || dstPos < 0 || srcPos < 0) return;
    if (static_cast<uint64_t>(dstPos) >= dst.size() || static_cast<uint64_t>(srcPos) >= src.size()) return;
    count = std::min<int64_t>({count, static_cast<int64_t>(dst.size()) - dstPos, static_cast<int64_t>(src.size()) - srcPos});
    std::memcpy(dst.data() + dstPos, src.data() + srcPos, static_cast<size_t>(count));
}

// Writes `bytes` (at most `length` of them) into the page image at `offset`, clipped to the page.
void WriteIntoPage(uint8_t* page, int64_t offset, ByteView bytes, uint32_t length) {
    if (!page || offset < 0 || offset >= static_cast<int64_t>(kPageSize)) return;
    const int64_t count = std::min<int64_t>({static_cast<int64_t>(length), static_cast<int64_t>(bytes.size()),
                                             static_cast<int64_t>(kPageSize) - offset});
    if (count > 0) std::memcpy(page + offset, bytes.data(), static_cast<size_t>(count));
}

}  // namespace

PrimaryRecordPage::PrimaryRecordPage(RunState& state) : RecordPage(state) {}

PrimaryRecordPage::PrimaryRecordPage(PageBuffer image, CMdfFile* owner, RunState& state)
    : RecordPage(std::move(image), owner, state) {
    // A row splice writes the logged bytes into the image after record 0 is read as the row stands.
    imageRewritten_ = state.rowSplice.rowSpliceMode != 0;
    ApplyPageCompression();
    if (state.deletedRecordScan && state.includeDeletedRows) FindDeletedRecords();
    // The row-splice request is read here and only here: it shapes this one load.
    if (state.rowSplice.rowSpliceMode)
        ParseModifiedRowSlot();
    else if (state.rowSplice.columnSpliceMode)
        ParseModifiedPiecesSlot();
    else
        ParseAllSlots();
}

PrimaryRecordPage::PrimaryRecordPage(PageBuffer image, ByteView row, CMdfFile* owner, RunState& state)
    : RecordPage(std::move(image), owner, state) {
    ParseSingleRow(row, row.getOr<uint16_t>(kPageSize - 2, 0));
}

PrimaryRecordPage::PrimaryRecordPage(PageBuffer image, CMdfFile* owner, RunState& state, ForwardedSlot slot,
                                     int forwardDepth)
    : RecordPage(std::move(image), owner, state, forwardDepth) {
    ApplyPageCompression();
    ParseForwardedSlot(slot.slot);
}

PrimaryRecordPage::~PrimaryRecordPage() = default;

bool PrimaryRecordPage::HeaderSane() const {
    const CPage_Header* h = header();
    if (!h) return false;
    return static_cast<int16_t>(h->ghostRecordCount) >= 0 && static_cast<int16_t>(h->freeCount) >= 0 &&
           static_cast<int16_t>(h->nextPage.fileId) >= 0 && static_cast<int32_t>(h->nextPage.pageId) >= 0 &&
           static_cast<int16_t>(h->thisPage.fileId) >= 0 && static_cast<int32_t>(h->thisPage.pageId) >= 0 &&
           static_cast<int16_t>(h->previousPage.fileId) >= 0 && static_cast<int32_t>(h->previousPage.pageId) >= 0;
}

void PrimaryRecordPage::DecompressIfCd(CPrimaryRecord& record) {
    if (record.compressed && !record.invalid && !state().legacyCatalog) DecompressRecord(&record);
}

RecordPtr PrimaryRecordPage::SlotRecord(ByteView row, uint16_t room) {
    RecordPtr record = MakeRecord<CPrimaryRecord>(row, this, room, RecordForm::SlotWalk);
    DecompressIfCd(static_cast<CPrimaryRecord&>(*record));
    return record;
}

// ---- page compression -------------------------------------------------------------------------

void PrimaryRecordPage::ApplyPageCompression() {
    const CPage_Header* h = header();
    if (!h || !(h->typeFlagBits & 0x80)) return;
    const ByteView image = view();
    if (!image.copy(kCompressionInfoOffset, sizeof(compressionInfo), &compressionInfo)) return;
    const int32_t length = compressionInfo.length;
    if (length == 0) return;
    hasAnchor = (compressionInfo.flags & 0x02) ? 1 : 0;
    hasDictionary = (compressionInfo.flags & 0x04) ? 1 : 0;
    const bool legacy = state().legacyCatalog != 0;

    if (hasAnchor && !hasDictionary) {
        if (!legacy)
            anchorRecord = std::make_unique<CPrimaryRecord>(image.from(101), this, static_cast<uint16_t>(length),
                                                            RecordForm::Cd);
    } else if (hasAnchor && hasDictionary) {
        anchorRecord =
            std::make_unique<CPrimaryRecord>(image.from(103), this, static_cast<uint16_t>(length), RecordForm::Cd);
        const int32_t dictOffset = compressionInfo.dictionaryOffset;
        if (!anchorRecord->invalid && dictOffset > 0 && dictOffset < length && length < kCompressionInfoLimit &&
            96 + dictOffset < kCompressionInfoLimit) {
            int32_t p = 96 + dictOffset;
            const int32_t n = image.getOr<uint16_t>(static_cast<size_t>(p), 0);
            p += 2;
            for (int32_t k = 0; k < n; ++k) {
                const auto end = image.u16(static_cast<size_t>(p) + 2 * static_cast<size_t>(k));
                if (!end || *end > kCompressionInfoLimit) break;
                dictionaryEndOffsets.push_back(*end);
            }
            p += 2 * n;
            int32_t start = 2 * n + 2;
            for (size_t k = 0; k < static_cast<size_t>(n) && k < dictionaryEndOffsets.size(); ++k) {
                const int32_t len = dictionaryEndOffsets[k] - start;
                ColumnData entry;
                entry.length = len;
                if (len > 0 && len < length && p < kCompressionInfoLimit && image.fits(static_cast<size_t>(p), len)) {
                    entry.data.assign(static_cast<size_t>(len) + 1, 0);
                    image.copy(static_cast<size_t>(p), static_cast<size_t>(len), entry.data.data());
                    p += len;
                }
                dictionaryEntries.push_back(std::move(entry));
                start += len;
            }
        }
    }
    // The anchor holds one value per column of the page's CD rows, so all of them are unpacked.
    if (anchorRecord && !anchorRecord->invalid && !legacy) UnpackAnchorColumns(anchorRecord->cdCodes.size());
}

void PrimaryRecordPage::UnpackAnchorColumns(size_t columnListSize) {
    if (!anchorRecord) return;
    const CPrimaryRecord& anchor = *anchorRecord;
    const size_t columns = std::min<size_t>(anchor.cdCodes.size(), static_cast<size_t>(std::max<int16_t>(anchor.columnCount, 0)));
    const ByteView shortData(anchor.fixedData);
    size_t shortPos = 0;
    size_t longIndex = 0;
    for (size_t k = 0; k < columns && k < columnListSize; ++k) {
        const int code = anchor.cdCodes[k];
        ColumnData value;
        if (code == 0) {
            value.length = -2;
        } else if (code == 1) {
            value.length = -1;
        } else if (code >= 2 && code <= 9) {
            const size_t len = static_cast<size_t>(code - 1);
            if (shortData.fits(shortPos, len)) {
                value.data.assign(shortData.data() + shortPos, shortData.data() + shortPos + len);
                value.length = static_cast<int32_t>(len);
            }
            shortPos += len;
        } else if (code == 10) {
            if (longIndex < anchor.columnValues.size()) {
                const ColumnValue& lv = anchor.columnValues[longIndex];
                const ByteView bytes = lv.data.clip(0, lv.length);
                if (!bytes.empty()) value.data.assign(bytes.data(), bytes.data() + bytes.size());
                value.length = static_cast<int32_t>(lv.length);
            }
            ++longIndex;
        }
        anchorValues.push_back(std::move(value));
    }
}

// ---- walks ------------------------------------------------------------------------------------

void PrimaryRecordPage::ParseAllSlots() {
    records.clear();
    const CPage_Header* h = header();
    if (!h || slotArray.empty() || h->slotCount > kPageSize || !HeaderSane()) {
        slotArray.clear();
        return;
    }
    const bool includeDeleted = state().includeDeletedRows != 0;
    const ByteView image = view();
    records.resize(slotArray.size());
    for (size_t i = 0; i < slotArray.size(); ++i) {
        if (h->pageType == 2 && h->level != 0) continue;
        if (h->ghostRecordCount >= h->slotCount && !includeDeleted) continue;
        const int32_t offset = slotArray[i];
        if (offset == 0 || !buffer() || offset > static_cast<int32_t>(kPageSize)) continue;
        const int32_t room = static_cast<int32_t>(kPageSize) - offset;
        if (room > kMaxRoom) continue;
        records[i] = SlotRecord(image.from(static_cast<size_t>(offset)), static_cast<uint16_t>(room));
    }
    slotArray.clear();
}

void PrimaryRecordPage::ParseForwardedSlot(int32_t slot) {
    records.clear();
    if (!header() || slotArray.empty()) {
        records.emplace_back();
        return;
    }
    if (slot < 0 || static_cast<size_t>(slot) >= slotArray.size()) return;
    const int32_t offset = slotArray[static_cast<size_t>(slot)];
    if (offset == 0 || offset > kMaxRoom) {
        records.emplace_back();
        return;
    }
    records.push_back(SlotRecord(view().from(static_cast<size_t>(offset)),
                                 static_cast<uint16_t>(static_cast<int32_t>(kPageSize) - offset)));
}

void PrimaryRecordPage::FindDeletedRecords() {
    if (!HeaderSane()) return;
    const std::vector<uint16_t> pageSlots = slotArray;
    scanOffsets.assign(pageSlots.begin(), pageSlots.end());
    slotArray.clear();
    ScanForRecords(pageSlots);
    slotArray.reserve(scanOffsets.size());
    for (int offset : scanOffsets) slotArray.push_back(static_cast<uint16_t>(offset));
    header()->slotCount = static_cast<uint16_t>(slotArray.size());
}

void PrimaryRecordPage::ScanForRecords(const std::vector<uint16_t>& pageSlots) {
    const ByteView image = view();
    if (image.empty()) return;
    const auto isSignature = [&](int32_t at) {
        const auto word = image.u32(static_cast<size_t>(at));
        return word && (*word == kRowSignatureNullBitmapVar || *word == kRowSignatureVersioned);
    };
    const auto addOffset = [&](int32_t at) {
        if (std::find(pageSlots.begin(), pageSlots.end(), at) == pageSlots.end()) scanOffsets.push_back(at);
    };
    int32_t pos = kMinRowOffset;
    int32_t resync = 0;
    for (;;) {
        bool searchAgain = false;
        while (pos < kScanEnd && !state().stopRequested()) {
            int32_t length = -1;
            RecordPtr made = MakeRecord<CPrimaryRecord>(image.from(static_cast<size_t>(pos)), this, length);
            auto* record = static_cast<CPrimaryRecord*>(made.get());
            record->columnValues.clear();
            record->columnValues.shrink_to_fit();
            record->fixedData = ByteView();
            record->nullBitmap = ByteView();
            record->rowCopy = RowBytes();
            record->sparseVector.reset();
            scanRecords.push_back(std::move(made));
            if (length <= 0) {
                searchAgain = true;
                break;
            }
            const int32_t next = pos + length;
            if (next < static_cast<int32_t>(kPageSize) && !isSignature(next)) {
                addOffset(pos);
                pos = next;
                searchAgain = true;
                break;
            }
            addOffset(pos);
            pos = next;
        }
        if (!searchAgain) return;
        if (pos == resync) pos = resync + 1;
        bool found = false;
        while (pos < kScanEnd && !state().stopRequested()) {
            if (isSignature(pos)) {
                found = true;
                break;
            }
            ++pos;
        }
        if (!found) return;
        resync = pos;
    }
}

std::optional<PrimaryRecordPage::SpliceRow> PrimaryRecordPage::BeginSplice(uint16_t slot) {
    records.clear();
    if (slot >= slotArray.size()) return std::nullopt;
    SpliceRow splice;
    splice.offset = slotArray[slot];
    splice.room = static_cast<uint16_t>(static_cast<int32_t>(kPageSize) - splice.offset);
    if (splice.room > kMaxRoom) {
        records.resize(2);
        return std::nullopt;
    }
    splice.row = view().from(static_cast<size_t>(splice.offset));
    records.push_back(SlotRecord(splice.row, splice.room));
    return splice;
}

void PrimaryRecordPage::ParseModifiedRowSlot() {
    const RowSpliceRequest& request = state().rowSplice;
    imageRewritten_ = true;
    const auto splice = BeginSplice(request.slot);
    if (!splice) return;
    const int32_t offset = splice->offset;
    const uint16_t room = splice->room;
    const ByteView row = splice->row;

    const uint32_t inRow = request.offsetInRow;
    const uint32_t len0 = request.element0Length;
    const uint32_t len1 = request.element1Length;
    if (len1 != 0 && len1 < len0) {
        const int64_t d = static_cast<int64_t>(len0) - len1;
        if (!request.element1.empty()) WriteIntoPage(buffer(), static_cast<int64_t>(offset) + inRow, request.element1, len1);
        std::vector<uint8_t> rebuilt(room, 0);
        CopyClipped(rebuilt, 0, row, 0, inRow);
        CopyClipped(rebuilt, inRow, request.element0, 0, len0);
        CopyClipped(rebuilt, static_cast<int64_t>(inRow) + len0, row, static_cast<int64_t>(inRow) + len1,
                    static_cast<int64_t>(room) - (static_cast<int64_t>(inRow) + len0 + d));
        records.push_back(SlotRecord(ByteView(rebuilt), room));
    } else if (len0 < room && inRow < room && static_cast<uint64_t>(inRow) + len0 < room) {
        WriteIntoPage(buffer(), static_cast<int64_t>(offset) + inRow, request.element0, len0);
        records.push_back(SlotRecord(row, room));
    } else {
        records.emplace_back();
    }
}

void PrimaryRecordPage::ParseModifiedPiecesSlot() {
    RowSpliceRequest& request = state().rowSplice;
    const auto splice = BeginSplice(request.slot);
    if (!splice) return;
    const int32_t room = splice->room;
    const ByteView row = splice->row;
    if (request.pieceEntries.empty() || request.pieceLengths.empty()) {
        records.emplace_back();
        return;
    }

    std::vector<uint8_t> rebuilt(static_cast<size_t>(room), 0);
    CopyClipped(rebuilt, 0, row, 0, room);
    ByteView data = request.element0;
    const ByteView entries = request.pieceEntries;
    const auto start = [&](int32_t k) { return static_cast<int32_t>(entries.getOr<uint16_t>(4 * static_cast<size_t>(k), 0)); };
    const auto end = [&](int32_t k) { return static_cast<int32_t>(entries.getOr<uint16_t>(4 * static_cast<size_t>(k) + 2, 0)); };
    const int32_t count = request.pieceCount;
    for (int32_t k = 0; k < count; ++k) {
        const int32_t a = start(k);
        const int32_t b = end(k);
        const int32_t len = request.pieceLengths.getOr<uint16_t>(2 * static_cast<size_t>(k), 0);
        int32_t d = b > a ? b - a : a - b;
        int32_t next = 0;
        if (k + 1 < count && end(k + 1) > a) next = end(k + 1) - a;
        if (next >= room) next = 0;
        if (k == 1 && count > 2 && d == 0) d = end(2) < start(2) ? start(2) - end(2) : 0;
        if (len >= room || a + len >= room) {
            request.overrun = 1;
            continue;
        }
        const auto tail = [&](int64_t source, int64_t n) {
            if (n >= 1 && n <= 8191) CopyClipped(rebuilt, a + len, row, source, n);
        };
        if (k == 0) {
            CopyClipped(rebuilt, 0, row, 0, a);
            CopyClipped(rebuilt, a, data, 0, len);
            if (next == 0 && d == 0) tail(b + len, room - (a + len));
            else if (next == 0) tail(b + len, room - (len + a + d));
            else if (d == 0) tail(b + len, next - len - a);
            else tail(a + b, next - d);
            // Each logged value is padded to 4 bytes: a multiple of 4 takes no padding.
            const int32_t pad = (4 - len % 4) % 4;
            const int32_t step = 2 * len + 2 * pad;
            if (step < room) data = data.from(static_cast<size_t>(step));
        } else if (k == 1) {
            CopyClipped(rebuilt, a, data, 0, len);
            tail(len + b - d, room - (len + a + d));
        }
    }
    records.push_back(SlotRecord(ByteView(rebuilt), static_cast<uint16_t>(room)));
}

void PrimaryRecordPage::ParseSingleRow(ByteView row, uint16_t room) {
    records.clear();
    if (CPage_Header* h = header()) h->slotCount = 1;
    // The raw-row form knows only the FixedVar format; a row-compressed row is parsed as CD.
    const bool cd = (row.getOr<uint8_t>(0, 0) & 0x01) && !state().legacyCatalog;
    RecordPtr record = MakeRecord<CPrimaryRecord>(row, this, room, cd ? RecordForm::Cd : RecordForm::RawRow);
    DecompressIfCd(static_cast<CPrimaryRecord&>(*record));
    records.push_back(std::move(record));
}

}  // namespace kestrane
