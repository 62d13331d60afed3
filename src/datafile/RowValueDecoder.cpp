#include "datafile/RowValueDecoder.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "datafile/BitReader.h"
#include "datafile/CdRowDecompressor.h"
#include "datafile/DataPage.h"
#include "datafile/LargeValue.h"
#include "datafile/ValueFormatter.h"
#include "datafile/XmlValueText.h"
#include "platform/RunState.h"

namespace kestrane {

namespace {

enum class Decoder { ByRowsetColumns, Plain };

// The bytes of a record value, no more than its stated length.
ByteView ValueBytes(const ColumnValue& value) {
    return ByteView(value.bytes(), std::min<size_t>(value.data.size(), value.length));
}

void ReleaseBytes(ColumnValue& value) {
    value.data.clear();
    value.data.shrink_to_fit();
}

class RowDecoder {
public:
    RowDecoder(CDataPage& page, TableLayout& layout, LobPageSource* lobPages, Decoder kind)
        : page_(page), columns_(layout.columns), state_(page.state()), kind_(kind) {
        if (lobPages) {
            lobPages_ = lobPages;
        } else if (page.file()) {
            ownLobPages_ = std::make_unique<MdfLobPageSource>(*page.file());
            lobPages_ = ownLobPages_.get();
        }
    }

    std::vector<ColumnDefList> Run() {
        size_t rows = 0;
        if (state_.rowSplice.active()) rows = 2;
        else if (!page_.header()) return page_.decodedRows;
        else rows = page_.header()->slotCount;
        // Row-compressed records take the shape of uncompressed ones once the column types are known.
        if (kind_ == Decoder::ByRowsetColumns) ExpandCompressedRecords(page_, columns_);
        for (size_t r = 0; r < rows && r < page_.RecordCount(); ++r) {
            CPrimaryRecord* record = page_.PrimaryRecordAt(r);
            if (!record || record->recordType == 3 || record->invalid) continue;
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
        Counters n;
        BitReader bits;
        for (size_t c = 0; c < columnCount; ++c) DecodeColumn(record, c, static_cast<int32_t>(columnCount), n, bits);
        if (kind_ == Decoder::ByRowsetColumns || (!columns_.empty() && !columns_[0].valueText.empty()))
            page_.decodedRows.push_back(columns_);
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

    void DecodeColumn(CPrimaryRecord& record, size_t c, int32_t columnCount, Counters& n, BitReader& bits) {
        ColumnDef& def = columns_[c];
        if (def.ordinal == kOrdinalNotStored) return;
        ColumnDescriptor desc(def.typeCode, def, &bits);
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
        if (def.ordinal > ordinalBound) def.ordinal = static_cast<int32_t>(def.columnId);
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

        LobOptions options;
        uint32_t code = def.typeCode;
        std::wstring text;

        if (kind_ == Decoder::ByRowsetColumns) {
            if (!def.sparse && (def.inLayout == 0 || nullBit)) {
                def.valueText = L"NULL";
                ++n.columnsDone;
                return;
            }
            if (record.compressed && c < record.cdDescriptors.size()) {
                const CdColumnDescriptor& cd = record.cdDescriptors[c];
                if (cd.length > 0) desc.valueLength = static_cast<int16_t>(std::min<int32_t>(cd.length, INT16_MAX));
                if (cd.isNull) {
                    def.valueText = L"NULL";
                    ++n.columnsDone;
                    return;
                }
            }
        }

        if (def.sparse) {
            text = SparseText(record, def, desc);
        } else if (n.columnsDone > recordColumns) {
            // past the record's columns: nothing to read
        } else if (desc.variable) {
            if (!VariableText(record, def, desc, variableIndex, nullBit, n, options, code, text)) return;
        } else if (kind_ == Decoder::Plain && def.nullable && nullBit) {
            // A NULL fixed value still holds its bytes; they are not its value.
            n.fixedPosition = static_cast<int16_t>(n.fixedPosition + desc.fixedLength);
            ++n.columnsDone;
        } else {
            text = FixedText(record, def, desc, leafOffset, legacyPosition, n);
        }

        // Binary values carry the "0x" prefix unless they became a side-file reference (or a blank).
        if (code == kTypeVarBinary || code == kTypeGeography) {
            bool alreadyPrefixed = code == kTypeGeography && text.rfind(L"0x", 0) == 0;
            if (!alreadyPrefixed) {
                if (state_.blobsToFiles == 1) {
                    if (text.find(L'\\') == std::wstring::npos) text = L"0x" + text;
                } else if (text != L" ") {
                    text = L"0x" + text;
                }
            }
        }
        if (kind_ == Decoder::Plain && def.nullable && text.empty()) text = L"NULL";
        def.valueText = std::move(text);
    }

    std::wstring SparseText(CPrimaryRecord& record, const ColumnDef& def, ColumnDescriptor& desc) {
        std::wstring text;
        if (!record.sparseVector) return text;
        for (ColumnValue& entry : record.sparseVector->values) {
            if (entry.columnId != static_cast<int32_t>(def.columnId) || !entry.hasData()) continue;
            desc.valueLength = static_cast<int16_t>(std::min<uint32_t>(entry.length, INT16_MAX));
            desc.availableLength = entry.length;
            text = FormatColumnValue(desc, ValueBytes(entry), def, state_.codePage);
            ReleaseBytes(entry);
        }
        return text;
    }

    // False when the column is left untouched (a complex value without bytes).
    bool VariableText(CPrimaryRecord& record, const ColumnDef& def, ColumnDescriptor& desc, int32_t variableIndex,
                      bool nullBit, Counters& n, LobOptions& options, uint32_t& code, std::wstring& text) {
        auto& values = record.columnValues;
        if (kind_ == Decoder::Plain && nullBit) {
            ++n.variableCount;
            ++n.columnsDone;
            return true;
        }
        if (values.empty() || variableIndex < 0 || static_cast<size_t>(variableIndex) >= values.size()) {
            ++n.variableCount;
            ++n.columnsDone;
            return true;
        }
        ColumnValue& value = values[static_cast<size_t>(variableIndex)];
        switch (code) {
            case kTypeVarBinary:
            case kTypeGeography: options.hex = 1; break;
            case kTypeImage: options.hex = 1; code = kTypeVarBinary; break;
            case kTypeSqlVariant: options.variant = 1; break;
            case kTypeNText:
            case kTypeNVarChar: options.unicode = 1; break;
            default: break;
        }
        const ByteView bytes = ValueBytes(value);
        if (!value.complex) {
            if (value.hasData()) {
                desc.valueLength = static_cast<int16_t>(std::min<uint32_t>(value.length, INT16_MAX));
                desc.availableLength = static_cast<int64_t>(bytes.size());
                text = code == kTypeSqlVariant ? FormatSqlVariantValue(desc, bytes, value.length, state_.codePage)
                                               : FormatColumnValue(desc, bytes, def, state_.codePage);
            }
        } else if (!value.hasData()) {
            ++n.variableCount;
            return false;
        } else if (lobPages_) {
            LobContext context(*lobPages_, state_.codePage);
            const bool xml = code == kTypeXml;
            std::vector<ColumnData> pieces;
            if (value.length == 16 && bytes.data()[0] == 0) {
                TextPointerValue pointer(context, bytes, options);
                text = xml ? (pointer.ReadValue(&pieces, true, options.unicode), ConvertPiecesToXmlText(pieces))
                           : pointer.ReadValue(nullptr, false, options.unicode);
            } else {
                uint16_t typeWord = bytes.data()[0];
                if (typeWord == 0) typeWord = bytes.getOr<uint16_t>(0, 0);
                if (typeWord == 2 || typeWord == 4) {
                    text = xml ? (GetLobValue(bytes, context, options, &pieces, true, &state_),
                                  ConvertPiecesToXmlText(pieces))
                               : GetLobValue(bytes, context, options, nullptr, false, &state_);
                }
            }
        }
        ReleaseBytes(value);
        ++n.variableCount;
        ++n.columnsDone;
        return true;
    }

    std::wstring FormatFixedAt(const CPrimaryRecord& record, const ColumnDef& def, ColumnDescriptor& desc,
                               int32_t start, int32_t fixedLength) {
        desc.availableLength = fixedLength - start;
        const ByteView fixed =
            ByteView(record.fixedData).clip(static_cast<size_t>(start), static_cast<size_t>(fixedLength - start));
        return FormatColumnValue(desc, fixed, def, state_.codePage);
    }

    std::wstring FixedText(const CPrimaryRecord& record, const ColumnDef& def, ColumnDescriptor& desc,
                           int16_t leafOffset, std::optional<int32_t> legacyPosition, Counters& n) {
        std::wstring text;
        if (!record.hasFixedData()) {
            n.fixedPosition = static_cast<int16_t>(n.fixedPosition + desc.fixedLength);
            ++n.columnsDone;
            return text;
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
            else if (position < F && position >= 0) start = position;
            if (start >= 0) {
                text = FormatFixedAt(record, def, desc, start, F);
                advance(ConsumedLength(desc));
            }
        } else {
            const int32_t a = def.leafOffset2;
            if (def.leafOffset < 0 && a > 0 && legacyPosition && *legacyPosition >= 0 && *legacyPosition < F) {
                text = FormatFixedAt(record, def, desc, *legacyPosition, F);
                int32_t consumed = ConsumedLength(desc);
                advance(consumed ? consumed : desc.fixedLength);
            } else if (a - 4 < 0 || a - 4 == position || a - 4 >= F) {
                if (position >= 0 && position < F) {
                    text = FormatFixedAt(record, def, desc, position, F);
                    advance(ConsumedLength(desc));
                }
            } else {
                text = FormatFixedAt(record, def, desc, a - 4, F);
                advance(ConsumedLength(desc));
            }
        }
        ++n.columnsDone;
        return text;
    }

    CDataPage& page_;
    ColumnDefList& columns_;
    RunState& state_;
    Decoder kind_;
    LobPageSource* lobPages_ = nullptr;
    std::unique_ptr<MdfLobPageSource> ownLobPages_;
};

}  // namespace

bool IsNullBitSet(ByteView bitmap, int64_t index) {
    if (index < 0) return false;
    auto byte = bitmap.u8(static_cast<size_t>(index / 8));
    return byte && ((*byte >> (index % 8)) & 1) != 0;
}

std::vector<ColumnDefList> DecodeRowValuesByRowsetColumns(CDataPage& page, TableLayout& layout, LobPageSource* lobPages) {
    return RowDecoder(page, layout, lobPages, Decoder::ByRowsetColumns).Run();
}

std::vector<ColumnDefList> DecodeRowValues(CDataPage& page, TableLayout& layout, LobPageSource* lobPages) {
    return RowDecoder(page, layout, lobPages, Decoder::Plain).Run();
}

}  // namespace kestrane
