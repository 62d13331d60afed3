#include "datafile/RowValueDecoder.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "datafile/BitColumnPlaces.h"
#include "datafile/BitReader.h"
#include "datafile/CdRowDecompressor.h"
#include "datafile/DataPage.h"
#include "datafile/FixedVarRowPlan.h"
#include "datafile/LargeValue.h"
#include "datafile/ValueFormatter.h"
#include "datafile/XmlValueText.h"
#include "platform/RunState.h"
#include "platform/TextCodec.h"

namespace kestrane {

namespace {

enum class Decoder { ByRowsetColumns, Plain };

// The bytes of a record value, no more than its stated length.
ByteView ValueBytes(const ColumnValue& value) {
    return ByteView(value.bytes(), std::min<size_t>(value.data.size(), value.length));
}

void ReleaseBytes(ColumnValue& value) { value.Release(); }

bool SameStorage(uint32_t a, uint32_t b) {
    auto family = [](uint32_t code) { return code == kTypeNumeric ? static_cast<uint32_t>(kTypeDecimal) : code; };
    return family(a) == family(b);
}

// The stored bytes of a column's kept default (a sql_variant); none when its type is not the column's.
std::optional<ByteView> StoredDefaultValue(const ColumnDef& def) {
    Cell variant;
    variant.state = CellState::Value;
    variant.typeCode = kTypeSqlVariant;
    variant.bytes = ByteView(def.storedDefault);
    if (def.typeCode == kTypeSqlVariant) return variant.bytes;
    const std::optional<Cell> inner = variant.VariantValue();
    if (!inner || !SameStorage(inner->typeCode, def.typeCode)) return std::nullopt;
    return inner->bytes;
}

class RowDecoder {
public:
    RowDecoder(CDataPage& page, TableLayout& layout, LobPageSource* lobPages, Decoder kind)
        : page_(page), columns_(layout.columns), state_(page.state()), kind_(kind), plan_(layout.columns) {
        // The number in each type text, read once rather than once a value.
        declared_.reserve(columns_.size());
        for (const ColumnDef& def : columns_) declared_.push_back(ParenthesisedNumber(def.typeText));
        // Likewise each column's descriptor (a bit column's depends on the bits read, so it is made per value).
        descriptors_.reserve(columns_.size());
        for (const ColumnDef& def : columns_) descriptors_.emplace_back(def.typeCode, def, nullptr);
        bitPlaces_ = BitColumnPlaces(columns_);
        if (lobPages) {
            lobPages_ = lobPages;
        } else if (page.file()) {
            lobPages_ = &ownLobPages_.emplace(*page.file());
        }
    }

    const std::vector<RowValues>& Run() {
        size_t rows = 0;
        if (state_.rowSplice.active()) rows = 2;
        else if (!page_.header()) return page_.decodedRows;
        else rows = page_.header()->slotCount;
        // Row-compressed records take the shape of uncompressed ones once the column types are known.
        if (kind_ == Decoder::ByRowsetColumns) ExpandCompressedRecords(page_, columns_);
        page_.decodedRows.reserve(page_.decodedRows.size() + std::min(rows, page_.RecordCount()));
        for (size_t r = 0; r < rows && r < page_.RecordCount(); ++r) {
            CPrimaryRecord* record = page_.PrimaryRecordAt(r);
            // A record cut short is no row: nothing may stand in for the bytes it lacks.
            if (!record || record->recordType == 3 || record->invalid || record->cut) continue;
            if (state_.includeDeletedRows == 0 && record->ghost) continue;
            DecodeRecord(*record);
        }
        return page_.decodedRows;
    }

private:
    struct Counters {
        int16_t fixedPosition = 0;
        int16_t variableCount = 0;
        int16_t columnsDone = 0;
    };

    void DecodeRecord(CPrimaryRecord& record) {
        const int32_t recordColumns = record.columnCount;
        const size_t columnCount = static_cast<size_t>(std::max<int32_t>(
            0, std::min<int32_t>(static_cast<int32_t>(columns_.size()), recordColumns)));
        const size_t reserve = static_cast<size_t>(std::max<int32_t>(record.cursor, 0)) + 16;
        RowValues& row = page_.decodedRows.emplace_back(columns_.size(), state_.codePage, reserve);
        if (kind_ == Decoder::ByRowsetColumns) {
            if (plan_.Decode(record, row)) return;
            row.Reset(columns_.size(), state_.codePage, reserve);
        }
        Counters n;
        BitReader bits;
        // Computed columns are listed but not stored: the place in the record counts stored columns only.
        int32_t place = 0;
        for (size_t c = 0; c < columns_.size(); ++c) {
            if (columns_[c].ordinal == kOrdinalNotStored) {
                row.SetState(c, columns_[c], CellState::Computed);
                continue;
            }
            if (InRecord(record, columns_[c], place++))
                DecodeColumn(record, row, c, static_cast<int32_t>(columnCount), n, bits);
            else if (recordColumns >= 1)  // a record without a readable column count gives nothing
                AddedAfterRow(row, c, columns_[c]);
        }
        // A row whose first column gives nothing is no row of this table.
        if (kind_ == Decoder::Plain && (columns_.empty() || row.state(0) == CellState::Unavailable))
            page_.decodedRows.pop_back();
    }

    // A row holds the columns its table had when it was written: a column whose NULL bit (or, without
    // one, whose place among the stored columns) lies past the row's column count was added later.
    bool InRecord(const CPrimaryRecord& record, const ColumnDef& def, int32_t place) const {
        if (def.sparse || def.inLayout == 0) return true;
        if (kind_ == Decoder::ByRowsetColumns && def.nullBitmapIndex >= 1) return def.nullBitmapIndex <= record.columnCount;
        return place < record.columnCount;
    }

    // What the server gives for such a column: the value the catalogue keeps for older rows, else NULL.
    void AddedAfterRow(RowValues& row, size_t c, const ColumnDef& def) const {
        if (def.hasStoredDefault) {
            if (std::optional<ByteView> value = StoredDefaultValue(def)) row.SetValue(c, def, *value);
        } else if (def.nullable) {
            row.SetState(c, def, CellState::Null);
        }
    }

    bool NullBit(const CPrimaryRecord& record, const ColumnDef& def, const Counters& n) const {
        const ByteView bitmap(record.nullBitmap);
        const int32_t recordColumns = record.columnCount;
        const int32_t i = def.nullBitmapIndex;
        if (i >= 1 && i <= recordColumns) return IsNullBitSet(bitmap, i - 1);
        if (kind_ == Decoder::Plain) return IsNullBitSet(bitmap, n.columnsDone);
        const int32_t s = record.sparseVector ? static_cast<int32_t>(record.sparseVector->values.size()) : 0;
        const int64_t k = static_cast<int64_t>(def.ordinal) - s - 1;
        if (k >= 1 && k <= recordColumns) return IsNullBitSet(bitmap, k);
        return IsNullBitSet(bitmap, s);
    }

    void DecodeColumn(CPrimaryRecord& record, RowValues& row, size_t c, int32_t columnCount, Counters& n,
                      BitReader& bits) {
        ColumnDef& def = columns_[c];
        if (def.ordinal == kOrdinalNotStored) return;
        unreadable_ = false;
        // A bit column reads its own bit of the shared bytes; a sparse one's value is a byte of its own.
        BitReader sparseBit;
        BitReader* reader = def.sparse ? &sparseBit : &bits;
        if (def.typeCode == kTypeBit && !def.sparse) bits.Seek(bitPlaces_[c]);
        ColumnDescriptor desc =
            def.typeCode == kTypeBit ? ColumnDescriptor(def.typeCode, def, reader) : descriptors_[c];
        const int32_t recordColumns = record.columnCount;
        int32_t variableIndex = desc.variable && def.leafOffset < 0 ? -def.leafOffset - 1 : n.variableCount;
        if (kind_ == Decoder::ByRowsetColumns && c < record.cdCodes.size()) {
            int code = record.cdCodes[c];
            if (code <= 9) {
                desc.variable = 0;
            } else if (code == 10 || code == 11) {
                desc.variable = 1;
                variableIndex = n.variableCount;
            }
        }
        const int32_t ordinalBound = kind_ == Decoder::ByRowsetColumns ? recordColumns : columnCount;
        // A damaged column id must not turn the column into a computed one for the rows after.
        if (def.ordinal > ordinalBound && static_cast<int32_t>(def.columnId) != kOrdinalNotStored)
            def.ordinal = static_cast<int32_t>(def.columnId);
        const bool nullBit = NullBit(record, def, n);

        int16_t leafOffset = def.leafOffset;
        std::optional<int32_t> legacyPosition;
        const bool legacy = kind_ == Decoder::Plain && state_.legacyCatalog != 0;
        if (legacy) {
            const int16_t a = def.leafOffset2;
            if (!desc.variable && def.leafOffset <= 0 && a > 0) legacyPosition = a - 4;
            if (desc.variable && !nullBit) {
                variableIndex = n.variableCount;
                auto& values = record.columnValues;
                if (variableIndex >= 0 && static_cast<size_t>(variableIndex) < values.size() &&
                    (!values[variableIndex].hasData() || values[variableIndex].length == 0)) {
                    int32_t k = a < 0 ? -a - 1 : 0;
                    if (static_cast<size_t>(k) < values.size() && values[k].hasData() && values[k].length != 0) {
                        n.variableCount = static_cast<int16_t>(k);
                        variableIndex = k;
                    }
                }
            }
        }
        if (kind_ == Decoder::Plain && !desc.variable && leafOffset < 0) leafOffset = static_cast<int16_t>(3 - leafOffset);

        if (kind_ == Decoder::ByRowsetColumns) {
            if (!def.sparse && (def.inLayout == 0 || nullBit)) {
                row.SetState(c, def, CellState::Null);
                ++n.columnsDone;
                return;
            }
            if (record.compressed && c < record.cdDescriptors.size()) {
                const CdColumnDescriptor& cd = record.cdDescriptors[c];
                if (cd.length > 0) desc.valueLength = static_cast<int16_t>(std::min<int32_t>(cd.length, INT16_MAX));
                if (cd.isNull) {
                    row.SetState(c, def, CellState::Null);
                    ++n.columnsDone;
                    return;
                }
            }
        }

        if (def.sparse) {
            SparseValue(record, row, c, def, desc);
        } else if (n.columnsDone > recordColumns) {
            // past the record's columns: nothing to read
        } else if (desc.variable) {
            VariableValue(record, row, c, def, desc, variableIndex, nullBit, n);
        } else if (kind_ == Decoder::Plain && def.nullable && nullBit) {
            // A NULL fixed value still holds its bytes; they are not its value. A NULL bit column's
            // byte is still read: the bit columns after it share it.
            if (def.typeCode == kTypeBit) {
                FixedValue(record, row, c, def, desc, leafOffset, legacyPosition, n);
            } else {
                n.fixedPosition = static_cast<int16_t>(n.fixedPosition + desc.fixedLength);
                ++n.columnsDone;
            }
            row.SetState(c, def, CellState::Null);
        } else {
            FixedValue(record, row, c, def, desc, leafOffset, legacyPosition, n);
        }
        // Without rowset columns a nullable column that gives nothing is taken as NULL (not one whose
        // value is there but cannot be read).
        if (kind_ == Decoder::Plain && def.nullable && row.state(c) == CellState::Unavailable && !unreadable_)
            row.SetState(c, def, CellState::Null);
    }

    void Capture(RowValues& row, size_t c, const ColumnDef& def, ColumnDescriptor& desc, ByteView data) {
        if (desc.declaredLength == 0) desc.declaredLength = declared_[c];
        if (std::optional<ByteView> value = CaptureColumnValue(desc, data, def)) SetValue(row, c, def, *value);
    }

    // An xml value the conversion cannot read is not the file's value: it stays Unavailable, never an
    // empty document.
    void SetValue(RowValues& row, size_t c, const ColumnDef& def, ByteView bytes) {
        if (def.typeCode == kTypeXml && !IsReadableXml(bytes)) {
            unreadable_ = true;
            return;
        }
        row.SetValue(c, def, bytes);
    }

    // A sparse column is NULL unless the record's sparse vector holds a value for it.
    void SparseValue(CPrimaryRecord& record, RowValues& row, size_t c, const ColumnDef& def, ColumnDescriptor& desc) {
        row.SetState(c, def, CellState::Null);
        if (!record.sparseVector) return;
        for (ColumnValue& entry : record.sparseVector->values) {
            if (entry.columnId != static_cast<int32_t>(def.columnId)) continue;
            if (!entry.hasData()) {
                row.SetState(c, def, CellState::Unavailable);
                continue;
            }
            desc.valueLength = static_cast<int16_t>(std::min<uint32_t>(entry.length, INT16_MAX));
            desc.availableLength = entry.length;
            row.SetState(c, def, CellState::Unavailable);
            Capture(row, c, def, desc, ValueBytes(entry));
        }
    }

    void VariableValue(CPrimaryRecord& record, RowValues& row, size_t c, const ColumnDef& def,
                       ColumnDescriptor& desc, int32_t variableIndex, bool nullBit, Counters& n) {
        auto& values = record.columnValues;
        if (kind_ == Decoder::Plain && nullBit) {
            row.SetState(c, def, CellState::Null);
        } else if (values.empty() || variableIndex < 0 || static_cast<size_t>(variableIndex) >= values.size()) {
            // The server leaves trailing empty values out of the offset array: with the NULL bit clear and
            // an offset array read whole, such a value is empty. Otherwise the record gives nothing.
            if (!nullBit && variableIndex >= 0 && !record.variablePartRefused && CanBeEmpty(def.typeCode))
                row.SetValue(c, def, ByteView());
        } else {
            ColumnValue& value = values[static_cast<size_t>(variableIndex)];
            const ByteView bytes = ValueBytes(value);
            if (!value.complex) {
                if (value.hasData()) {
                    desc.valueLength = static_cast<int16_t>(std::min<uint32_t>(value.length, INT16_MAX));
                    desc.availableLength = static_cast<int64_t>(bytes.size());
                    Capture(row, c, def, desc, bytes);
                } else if (value.length == 0 && CanBeEmpty(def.typeCode)) {
                    row.SetValue(c, def, ByteView());
                }
            } else if (!value.hasData()) {
                ++n.variableCount;
                return;
            } else {
                LargeValue(row, c, def, bytes);
            }
            ReleaseBytes(value);
        }
        ++n.variableCount;
        ++n.columnsDone;
    }

    // Types whose value may be zero bytes long ('', 0x, the root of a hierarchy).
    static bool CanBeEmpty(uint32_t code) {
        switch (code) {
            case kTypeBinary: case kTypeChar: case kTypeNChar: case kTypeNVarChar: case kTypeVarBinary:
            case kTypeVarChar: case kTypeNText: case kTypeImage: case kTypeText: case kTypeHierarchyId:
            case kTypeXml:
                return true;
            default:
                return false;
        }
    }

    // A value held outside the row: its bytes joined from the large-value records.
    void LargeValue(RowValues& row, size_t c, const ColumnDef& def, ByteView bytes) {
        if (!lobPages_) return;
        LobContext context(*lobPages_, state_.codePage);
        lobBytes_.clear();
        bool complete = false;
        bool inRowRoot = false;
        if (bytes.size() == 16 && bytes.data()[0] == 0) {
            complete = ReadTextPointerBytes(context, bytes, lobBytes_);
        } else {
            uint16_t typeWord = bytes.data()[0];
            if (typeWord == 0) typeWord = bytes.getOr<uint16_t>(0, 0);
            if (typeWord != 2 && typeWord != 4) return;
            inRowRoot = true;
            complete = ReadInRowRootBytes(context, bytes, lobBytes_);
        }
        if (!complete) return;
        const bool binary = def.typeCode == kTypeVarBinary || def.typeCode == kTypeImage ||
                            def.typeCode == kTypeGeography;
        if (inRowRoot && binary && state_.blobsToFiles == 1) {
            // During the script run a binary large value goes to a side file of its own.
            const std::wstring reference = WriteLargeValueFile(state_, lobBytes_);
            if (!reference.empty()) {
                row.SetValue(c, def, ByteView(WideToUtf16Le(reference)), kCellSideFile);
                return;
            }
        }
        SetValue(row, c, def, ByteView(lobBytes_));
    }

    void FixedAt(const CPrimaryRecord& record, RowValues& row, size_t c, const ColumnDef& def,
                 ColumnDescriptor& desc, int32_t start, int32_t fixedLength) {
        desc.availableLength = fixedLength - start;
        const ByteView fixed =
            ByteView(record.fixedData).clip(static_cast<size_t>(start), static_cast<size_t>(fixedLength - start));
        Capture(row, c, def, desc, fixed);
    }

    void FixedValue(const CPrimaryRecord& record, RowValues& row, size_t c, const ColumnDef& def,
                    ColumnDescriptor& desc, int16_t leafOffset, std::optional<int32_t> legacyPosition, Counters& n) {
        if (!record.hasFixedData()) {
            n.fixedPosition = static_cast<int16_t>(n.fixedPosition + desc.fixedLength);
            ++n.columnsDone;
            return;
        }
        // Never trust the stated fixed length beyond the bytes held.
        const int32_t F = std::min<int32_t>(record.fixedLength, static_cast<int32_t>(record.fixedData.size()));
        const int32_t position = n.fixedPosition;
        auto advance = [&](int32_t by) { n.fixedPosition = static_cast<int16_t>(n.fixedPosition + by); };
        const bool legacy = kind_ == Decoder::Plain && state_.legacyCatalog != 0;
        if (!legacy) {
            const int32_t p = leafOffset - 4;
            int32_t start = -1;
            if (p >= 0 && p <= F) start = p;
            else if (desc.bitReader && !desc.bitReader->NeedsByte()) {
                // The byte in hand holds this bit, even where it ends the fixed part.
                Capture(row, c, def, desc, ByteView(&desc.bitReader->currentByte, 1));
                ++n.columnsDone;
                return;
            } else if (position < F && position >= 0) start = position;
            if (start >= 0) {
                // A bit column at its own byte reads that byte, whatever byte the reader holds; the
                // byte counts once, for the column at its first bit.
                const bool ownByte = desc.bitReader && start == p;
                if (ownByte) desc.bitReader->Drop();
                FixedAt(record, row, c, def, desc, start, F);
                advance(ownByte && desc.bitReader->place > 0 ? 0 : ConsumedLength(desc));
            }
        } else {
            const int32_t a = def.leafOffset2;
            if (def.leafOffset < 0 && a > 0 && legacyPosition && *legacyPosition >= 0 && *legacyPosition < F) {
                FixedAt(record, row, c, def, desc, *legacyPosition, F);
                int32_t consumed = ConsumedLength(desc);
                advance(consumed ? consumed : desc.fixedLength);
            } else if (a - 4 < 0 || a - 4 == position || a - 4 >= F) {
                if (position >= 0 && position < F) {
                    FixedAt(record, row, c, def, desc, position, F);
                    advance(ConsumedLength(desc));
                }
            } else {
                FixedAt(record, row, c, def, desc, a - 4, F);
                advance(ConsumedLength(desc));
            }
        }
        ++n.columnsDone;
    }

    CDataPage& page_;
    ColumnDefList& columns_;
    RunState& state_;
    Decoder kind_;
    LobPageSource* lobPages_ = nullptr;
    std::optional<MdfLobPageSource> ownLobPages_;
    std::vector<uint8_t> lobBytes_;
    std::vector<uint16_t> declared_;
    std::vector<ColumnDescriptor> descriptors_;
    std::vector<int8_t> bitPlaces_;
    bool unreadable_ = false;  // the column's value is there but cannot be read
    const FixedVarRowPlan plan_;
};

}  // namespace

bool IsNullBitSet(ByteView bitmap, int64_t index) {
    if (index < 0) return false;
    auto byte = bitmap.u8(static_cast<size_t>(index / 8));
    return byte && ((*byte >> (index % 8)) & 1) != 0;
}

const std::vector<RowValues>& DecodeRowValuesByRowsetColumns(CDataPage& page, TableLayout& layout,
                                                             LobPageSource* lobPages) {
    return RowDecoder(page, layout, lobPages, Decoder::ByRowsetColumns).Run();
}

const std::vector<RowValues>& DecodeRowValues(CDataPage& page, TableLayout& layout, LobPageSource* lobPages) {
    return RowDecoder(page, layout, lobPages, Decoder::Plain).Run();
}

}  // namespace kestrane
