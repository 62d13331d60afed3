#include "datafile/CdRowDecompressor.h"

#include <algorithm>

#include "datafile/BitColumnPlaces.h"
#include "datafile/CdValueExpansion.h"
#include "datafile/PrimaryRecordPage.h"
#include "datafile/Record.h"

namespace kestrane {

namespace {

using Bytes = std::vector<uint8_t>;

// Smallest fixed-data block a resolved record holds, so that readers of the old fixed image find it.
constexpr size_t kResolvedImageSize = 4096;
// Largest fixed part an expanded row may claim (leaf offsets beyond it are refused).
constexpr int32_t kMaxExpandedFixed = 8060;
// A row's in-row values fit in 8060 bytes uncompressed; symbols and prefixes that claim far more than
// that come from a damaged page, and the columns past this bound keep no bytes.
constexpr size_t kMaxResolvedRow = 2 * 8192;

bool IsShortCode(int code) { return code >= kCdShortFirst && code <= kCdShortLast; }

void EnsureSize(Bytes& b, size_t size) {
    if (b.size() < size) b.resize(size, 0);
}

// The decoder's choice for a column: fixed or variable, as its descriptor says.
bool IsVariable(const ColumnDef& def) { return ColumnDescriptor(def.typeCode, def, nullptr).variable != 0; }

bool IsStored(const ColumnDef& def) { return def.ordinal != kOrdinalNotStored && def.inLayout != 0 && !def.sparse; }

}  // namespace

void ApplyAnchorPrefix(ByteView anchor, ByteView value, Bytes& out) {
    out.clear();
    const auto first = value.u8(0);
    if (!first) return;
    size_t shared = *first;
    size_t rest = 1;
    if (*first & 0x80) {
        shared = (static_cast<size_t>(*first & 0x7F) << 8) | value.getOr<uint8_t>(1, 0);
        rest = 2;
    }
    shared = std::min(shared, anchor.size());
    out.assign(anchor.data(), anchor.data() + shared);
    const ByteView own = value.from(rest);
    out.insert(out.end(), own.data(), own.data() + own.size());
}

void ResolveCdColumns(CPrimaryRecord& record, const PrimaryRecordPage* page) {
    // Resolved already (one descriptor per code): the fixed data no longer holds the short data.
    if (record.cdCodes.empty() || record.cdDescriptors.size() == record.cdCodes.size()) return;
    const Bytes shortData = record.fixedData.toVector();
    const ByteView shortView(shortData);
    Bytes image;
    image.reserve(kResolvedImageSize);
    record.cdDescriptors.clear();
    record.cdDescriptors.reserve(record.cdCodes.size());
    size_t shortPos = 0;
    size_t longIndex = 0;
    Bytes prefixed;
    for (size_t k = 0; k < record.cdCodes.size(); ++k) {
        const int code = record.cdCodes[k];
        CdColumnDescriptor descriptor;
        ByteView value;
        bool complex = false;
        if (code == kCdNull) {
            descriptor.isNull = 1;
        } else if (IsShortCode(code)) {
            const size_t length = static_cast<size_t>(code - 1);
            value = shortView.sub(shortPos, length);
            shortPos += length;
        } else if (code == kCdLong) {
            if (longIndex < record.columnValues.size()) {
                const ColumnValue& long_ = record.columnValues[longIndex];
                value = ByteView(long_.data).clip(0, long_.length);
                complex = long_.complex != 0;
            }
            ++longIndex;
        } else if (code == kCdPageSymbol) {
            const auto symbol = shortView.u8(shortPos);
            ++shortPos;
            if (symbol && page && *symbol < page->dictionaryEntries.size()) {
                const ColumnData& entry = page->dictionaryEntries[*symbol];
                if (entry.length > 0) value = ByteView(entry.data).clip(0, static_cast<size_t>(entry.length));
            }
        }
        if (!value.empty() && !complex && page && k < page->anchorValues.size() &&
            page->anchorValues[k].length > 0) {
            const ColumnData& anchor = page->anchorValues[k];
            ApplyAnchorPrefix(ByteView(anchor.data).clip(0, static_cast<size_t>(anchor.length)), value, prefixed);
            value = ByteView(prefixed);
        }
        if (image.size() + value.size() > kMaxResolvedRow) value = ByteView();
        descriptor.length = static_cast<int32_t>(value.size());
        image.insert(image.end(), value.data(), value.data() + value.size());
        record.cdDescriptors.push_back(descriptor);
    }
    record.fixedLength = static_cast<int16_t>(std::min<size_t>(image.size(), INT16_MAX));
    EnsureSize(image, kResolvedImageSize);
    record.SetFixedData(std::move(image));
}

bool ExpandCdRecord(CPrimaryRecord& record, const ColumnDefList& columns) {
    const size_t count = record.cdCodes.size();
    if (!record.compressed || count == 0 || record.cdDescriptors.size() != count) return false;

    // Where each CD column's resolved bytes lie, and which long value it took.
    std::vector<size_t> start(count, 0);
    std::vector<uint8_t> complex(count, 0);
    size_t total = 0;
    size_t longIndex = 0;
    for (size_t k = 0; k < count; ++k) {
        start[k] = total;
        total += static_cast<size_t>(std::max<int32_t>(record.cdDescriptors[k].length, 0));
        if (record.cdCodes[k] == kCdLong) {
            if (longIndex < record.columnValues.size()) complex[k] = record.columnValues[longIndex].complex;
            ++longIndex;
        }
    }
    const ByteView image(record.fixedData);

    // Fixed columns go to their leaf offsets when every one has a usable offset; else one after another
    // in column order, as the decoder then reads them.
    bool byLeafOffset = true;
    for (const ColumnDef& def : columns)
        if (IsStored(def) && !IsVariable(def) && (def.leafOffset < 4 || def.leafOffset - 4 >= kMaxExpandedFixed))
            byLeafOffset = false;

    Bytes fixed;
    std::pmr::vector<ColumnValue> values(record.columnValues.get_allocator());
    std::vector<CdColumnDescriptor> descriptors(columns.size());
    int32_t runningFixed = 0;
    int32_t runningVariable = 0;
    const std::vector<int8_t> bitPlaces = BitColumnPlaces(columns);
    int32_t bitByte = -1;
    size_t runningStored = 0;
    Bytes expanded;
    for (size_t c = 0; c < columns.size(); ++c) {
        const ColumnDef& def = columns[c];
        if (!IsStored(def)) continue;
        const size_t k = def.nullBitmapIndex >= 1 && static_cast<size_t>(def.nullBitmapIndex) <= count
                             ? static_cast<size_t>(def.nullBitmapIndex - 1)
                             : runningStored;
        ++runningStored;
        const int code = k < count ? record.cdCodes[k] : kCdNull;
        const ByteView stored = k < count ? image.clip(start[k], static_cast<size_t>(std::max<int32_t>(
                                                                   record.cdDescriptors[k].length, 0)))
                                          : ByteView();

        // A bit goes to its own place in the shared bytes; a NULL bit column keeps its place too. Without
        // leaf offsets a byte lies where the decoder reads it: at the first value of its bits.
        if (def.typeCode == kTypeBit && !IsVariable(def)) {
            const int32_t place = std::max<int32_t>(bitPlaces[c], 0);
            if (byLeafOffset) bitByte = def.leafOffset - 4;
            else if (place == 0) bitByte = -1;
            if (code == kCdNull) {
                descriptors[c].isNull = 1;
                continue;
            }
            if (bitByte < 0) bitByte = runningFixed++;
            if (bitByte >= kMaxExpandedFixed) continue;
            EnsureSize(fixed, static_cast<size_t>(bitByte) + 1);
            if (code == kCdBitOne || (IsShortCode(code) && stored.getOr<uint8_t>(0, 0) != 0))
                fixed[static_cast<size_t>(bitByte)] |= static_cast<uint8_t>(1u << place);
            continue;
        }
        if (code == kCdNull) {
            descriptors[c].isNull = 1;
            continue;
        }

        ExpandCdValue(def, code, complex[k] ? ByteView() : stored, expanded);
        if (!IsVariable(def)) {
            const int32_t at = byLeafOffset ? def.leafOffset - 4 : runningFixed;
            runningFixed += static_cast<int32_t>(expanded.size());
            if (at + static_cast<int64_t>(expanded.size()) > kMaxExpandedFixed) continue;
            EnsureSize(fixed, static_cast<size_t>(at) + expanded.size());
            std::copy(expanded.begin(), expanded.end(), fixed.begin() + at);
            continue;
        }
        // Variable values: a large-value pointer (complex) keeps its bytes as stored.
        ColumnValue value;
        value.complex = complex[k];
        const ByteView bytes = complex[k] ? stored : ByteView(expanded);
        if (!bytes.empty()) {
            value.Own(bytes);
            value.length = static_cast<uint32_t>(bytes.size());
        }
        const size_t index = def.leafOffset < 0 ? static_cast<size_t>(-(def.leafOffset + 1))
                                                : static_cast<size_t>(runningVariable);
        ++runningVariable;
        if (index >= static_cast<size_t>(kMaxCdColumns)) continue;
        if (values.size() <= index) values.resize(index + 1);
        descriptors[c].length = static_cast<int32_t>(value.length);
        values[index] = std::move(value);
    }

    record.SetFixedData(std::move(fixed));
    record.fixedLength = static_cast<int16_t>(record.fixedData.size());
    record.columnValues = std::move(values);
    record.variableCount = static_cast<int16_t>(record.columnValues.size());
    record.cdDescriptors = std::move(descriptors);
    record.cdCodes.clear();
    return true;
}

void ExpandCompressedRecords(PrimaryRecordPage& page, const ColumnDefList& columns) {
    for (size_t slot = 0; slot < page.RecordCount(); ++slot)
        if (CPrimaryRecord* record = page.PrimaryRecordAt(slot); record && record->compressed) ExpandCdRecord(*record, columns);
}

}  // namespace kestrane
