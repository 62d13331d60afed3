#include "datafile/FixedVarRowPlan.h"

#include <algorithm>

#include "datafile/BitColumnPlaces.h"
#include "datafile/Record.h"

namespace kestrane {

namespace {

constexpr uint8_t kBitBytes[2] = {0, 1};

// The bytes a fixed value takes from its leaf offset, as the value capture cuts them; 0 for a type the
// plan leaves to the general decoder.
uint16_t FixedTake(const ColumnDef& def, const ColumnDescriptor& desc) {
    if (desc.valueLength <= 0) return 0;
    switch (def.typeCode) {
        case kTypeBigInt: case kTypeBinary: case kTypeChar: case kTypeInt: case kTypeNChar: case kTypeSmallInt:
        case kTypeTinyInt: case kTypeFloat: case kTypeReal: case kTypeUniqueIdentifier: case kTypeTimestamp:
            return static_cast<uint16_t>(desc.valueLength);
        case kTypeDateTime: return 8;
        case kTypeDate: return 3;
        case kTypeSmallDateTime: return 4;
        case kTypeTime: case kTypeDateTime2: case kTypeDateTimeOffset: case kTypeMoney: case kTypeSmallMoney:
        case kTypeNumeric: case kTypeDecimal:
            return ParenthesisedNumber(def.typeText);
        default:
            return 0;
    }
}

// Variable types whose in-row value is its bytes.
bool VariableTaken(uint32_t code) {
    switch (code) {
        case kTypeVarChar: case kTypeNVarChar: case kTypeVarBinary: case kTypeNChar: case kTypeSqlVariant:
        case kTypeHierarchyId:
            return true;
        default:
            return false;
    }
}

bool CanBeEmpty(uint32_t code) { return code != kTypeSqlVariant; }

}  // namespace

FixedVarRowPlan::FixedVarRowPlan(const ColumnDefList& columns) {
    std::vector<bool> variableTaken;
    const std::vector<int8_t> bitPlaces = BitColumnPlaces(columns);
    int32_t stored = 0;
    for (size_t c = 0; c < columns.size(); ++c) {
        const ColumnDef& def = columns[c];
        Step s;
        s.column = static_cast<uint32_t>(c);
        s.cell = RowValues::CellType(def);
        if (def.ordinal == kOrdinalNotStored) {
            computed_.push_back(s);
            continue;
        }
        if (def.sparse || def.inLayout == 0 || def.nullBitmapIndex < 1) return;
        ++stored;
        columnsNeeded_ = std::max({columnsNeeded_, def.nullBitmapIndex, def.ordinal});
        s.nullBit = def.nullBitmapIndex - 1;
        const ColumnDescriptor desc(def.typeCode, def, nullptr);
        if (desc.variable) {
            if (def.leafOffset >= 0 || !VariableTaken(def.typeCode)) return;
            s.place = -def.leafOffset - 1;
            s.canBeEmpty = CanBeEmpty(def.typeCode) ? 1 : 0;
            // Two columns on one value: the general decoder hands a value out once.
            if (variableTaken.size() <= static_cast<size_t>(s.place)) variableTaken.resize(s.place + 1u);
            if (variableTaken[s.place]) return;
            variableTaken[s.place] = true;
            variable_.push_back(s);
            continue;
        }
        if (def.leafOffset < 4) return;
        s.place = def.leafOffset - 4;
        s.length = def.typeCode == kTypeBit ? 1 : FixedTake(def, desc);
        if (s.length == 0) return;
        if (def.typeCode == kTypeBit) s.bit = static_cast<uint8_t>(bitPlaces[c]);
        fixedEnd_ = std::max(fixedEnd_, s.place + s.length);
        (def.typeCode == kTypeBit ? bits_ : fixed_).push_back(s);
    }
    if (stored == 0) return;
    // Before its k-th stored column the general decoder has done k columns, which the count must reach.
    columnsNeeded_ = std::max(columnsNeeded_, stored - 1);
    usable_ = true;
}

bool FixedVarRowPlan::Decode(CPrimaryRecord& record, RowValues& row) const {
    if (!usable_ || record.compressed || !record.cdCodes.empty() || record.sparseVector) return false;
    if (record.columnCount < columnsNeeded_) return false;
    const ByteView fixed = record.fixedData.clip(0, static_cast<size_t>(std::max<int16_t>(record.fixedLength, 0)));
    if (fixedEnd_ > static_cast<int32_t>(fixed.size())) return false;
    const ByteView bitmap = record.nullBitmap;
    // The first 64 NULL bits read once a row; a bit beyond the bitmap (or without one) reads as clear.
    uint64_t lowBits = 0;
    for (size_t i = 0; i < bitmap.size() && i < sizeof lowBits; ++i)
        lowBits |= static_cast<uint64_t>(bitmap.getOr<uint8_t>(i, 0)) << (8 * i);
    const auto isNull = [bitmap, lowBits](int32_t bit) {
        if (bit < 64) return ((lowBits >> bit) & 1) != 0;
        return ((bitmap.getOr<uint8_t>(static_cast<size_t>(bit) >> 3, 0) >> (bit & 7)) & 1) != 0;
    };
    auto& values = record.columnValues;
    RowValues::Filler fill(row);
    // Variable values first: a record the plan cannot take is refused before anything else is written.
    for (const Step& s : variable_) {
        if (isNull(s.nullBit)) {
            fill.State(s.column, s.cell, CellState::Null);
        } else if (static_cast<size_t>(s.place) >= values.size()) {
            // The server leaves trailing empty values out of the offset array.
            if (!s.canBeEmpty || record.variablePartRefused) return false;
            fill.Value(s.column, s.cell, ByteView());
        } else {
            const ColumnValue& value = values[static_cast<size_t>(s.place)];
            if (value.complex) return false;
            if (value.hasData()) {
                if (value.data.size() != value.length) return false;
                fill.Value(s.column, s.cell, value.data);
            } else if (value.length == 0 && s.canBeEmpty) {
                fill.Value(s.column, s.cell, ByteView());
            } else {
                return false;
            }
        }
    }
    for (const Step& s : fixed_) {
        if (isNull(s.nullBit))
            fill.State(s.column, s.cell, CellState::Null);
        else
            fill.Value(s.column, s.cell, fixed.sub(static_cast<size_t>(s.place), s.length));
    }
    // Bit columns share bytes: each reads its own bit of the byte at its place.
    for (const Step& s : bits_) {
        if (isNull(s.nullBit)) {
            fill.State(s.column, s.cell, CellState::Null);
            continue;
        }
        const uint8_t bits = fixed.getOr<uint8_t>(static_cast<size_t>(s.place), 0);
        fill.Value(s.column, s.cell, ByteView(kBitBytes + ((bits >> s.bit) & 1), 1));
    }
    for (const Step& s : computed_) fill.State(s.column, s.cell, CellState::Computed);
    // A value is handed out once.
    for (const Step& s : variable_)
        if (static_cast<size_t>(s.place) < values.size() && !isNull(s.nullBit)) values[static_cast<size_t>(s.place)].Release();
    return true;
}

}  // namespace kestrane
