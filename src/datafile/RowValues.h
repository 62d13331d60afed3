#pragma once
// One decoded row as the files hold it: a byte arena with the exact stored content of every value,
// and one small entry per column with its state, its type and where its bytes lie. Texts for the grid
// and literals for statements are made from the cells; nothing of the value is lost on the way.
//
// Stored content by type code (what `Cell::bytes` holds):
//   integers, money, float, real, dates and times   the fixed-part bytes as stored (little-endian)
//   decimal, numeric                                 sign byte, then the magnitude
//   bit                                              one byte, 0 or 1
//   char, varchar, text                              the 8-bit bytes (`Cell::codePage` decodes them)
//   nchar, nvarchar, ntext                           UTF-16LE code units
//   binary, varbinary, image, timestamp, CLR types   the bytes
//   uniqueidentifier                                 the 16 bytes as stored
//   sql_variant                                      base type id, version byte, properties, value
//   xml                                              the stored binary xml
//   a large-value side file (kCellSideFile)          UTF-16LE text of the file reference
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "datafile/ColumnDef.h"
#include "platform/ByteReader.h"

namespace kestrane {

enum class CellState : uint8_t {
    Value,        // the bytes are the value (possibly empty: '' or 0x)
    Null,         // SQL NULL
    Unavailable,  // the files do not give this value (damaged or missing bytes)
    Default,      // the column's default applies (the row was written before the column existed)
    Computed,     // a computed column: the server derives it, the row does not store it
};

// The bytes of a binary large value went to a side file; the cell holds the file reference text.
constexpr uint8_t kCellSideFile = 0x01;

// Calendar and clock fields of a date or time value. `fraction` counts 10^-fractionDigits seconds.
struct DateTimeParts {
    int year = 1, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    uint64_t fraction = 0;
    int fractionDigits = 0;
    int offsetMinutes = 0;  // datetimeoffset only; the other fields are then local time
};

// A read-only view of one value with its type.
struct Cell {
    CellState state = CellState::Unavailable;
    uint8_t flags = 0;
    uint32_t typeCode = 0;  // InternalTypeCode
    uint8_t precision = 0;
    uint8_t scale = 0;
    ByteView bytes;
    int32_t codePage = 1252;  // of 8-bit texts

    bool IsValue() const { return state == CellState::Value; }
    bool IsNull() const { return state == CellState::Null; }

    // bigint, int, smallint, tinyint and bit.
    std::optional<int64_t> Integer() const;
    // float and real.
    std::optional<double> Float() const;
    // decimal, numeric, money and smallmoney as exact decimal text ("-12.3400").
    std::optional<std::wstring> DecimalText() const;
    // datetime, smalldatetime, date, time, datetime2 and datetimeoffset; nullopt when out of range.
    std::optional<DateTimeParts> DateTime() const;
    // The text of a character, Unicode or xml value, every stored unit kept.
    std::optional<std::wstring> WideText() const;
    // The value inside a sql_variant, typed by its base type; nullopt for an unknown base type.
    std::optional<Cell> VariantValue() const;
};

// One cell's place in the arena.
struct CellEntry {
    CellState state = CellState::Unavailable;
    uint8_t flags = 0;
    uint8_t typeCode = 0;
    uint8_t precision = 0;
    uint8_t scale = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
};

class RowValues {
public:
    RowValues() = default;
    // `reserveBytes`: room for that many bytes of values, so that filling the row allocates once.
    RowValues(size_t columns, int32_t codePage, size_t reserveBytes = 0) { Reset(columns, codePage, reserveBytes); }

    // Every cell Unavailable, typed by nothing yet.
    void Reset(size_t columns, int32_t codePage, size_t reserveBytes = 0);
    size_t size() const { return columns_; }
    bool empty() const { return columns_ == 0; }
    Cell operator[](size_t column) const;
    CellState state(size_t column) const { return blocks()[column].state; }
    int32_t codePage() const { return codePage_; }

    // Builders; `def` gives the cell its type. (Inline: the row decoder calls them for every value.)
    void SetValue(size_t column, const ColumnDef& def, ByteView bytes, uint8_t flags = 0) {
        CellEntry type = CellType(def);
        type.flags = flags;
        Filler(*this).Value(column, type, bytes);
    }
    void SetState(size_t column, const ColumnDef& def, CellState state) {
        CellEntry& e = blocks()[column];
        Type(e, def);
        e.state = state;
        e.flags = 0;
        e.offset = 0;
        e.length = 0;
    }
    // Appends bytes to the value of `column`, which must be the last value begun.
    void BeginValue(size_t column, const ColumnDef& def, uint8_t flags = 0) {
        CellEntry& e = blocks()[column];
        Type(e, def);
        e.state = CellState::Value;
        e.flags = flags;
        e.offset = static_cast<uint32_t>(used_);
        e.length = 0;
    }
    void AppendToValue(size_t column, ByteView bytes) {
        if (bytes.empty()) return;
        const size_t need = used_ + bytes.size();
        if ((capacity() - columns_) * sizeof(CellEntry) < need) Grow(need);
        std::memcpy(reinterpret_cast<uint8_t*>(blocks() + columns_) + used_, bytes.data(), bytes.size());
        used_ = need;
        blocks()[column].length += static_cast<uint32_t>(bytes.size());
    }

    bool operator==(const RowValues& other) const;

    // The type of a cell of column `def`, made once for many rows (see Filler).
    static CellEntry CellType(const ColumnDef& def) {
        CellEntry e;
        Type(e, def);
        return e;
    }

    // Fills the cells of a row in one pass with the place of the next value bytes kept in hand, not
    // in the row: for a decoder that writes every cell of many rows. The row takes the bytes when the
    // filler is done.
    class Filler {
    public:
        explicit Filler(RowValues& row) : row_(row) { Refresh(); }
        ~Filler() { row_.used_ = used_; }
        Filler(const Filler&) = delete;
        Filler& operator=(const Filler&) = delete;

        // The entry is copied whole, then its fields set: fields set in a copy and the copy stored
        // whole would stall the store.
        void Value(size_t column, const CellEntry& type, ByteView bytes) {
            if (bytes.size() > room_ - used_) {
                row_.used_ = used_;
                row_.Grow(used_ + bytes.size());
                Refresh();
            }
            CellEntry& e = entries_[column];
            e = type;
            e.state = CellState::Value;
            e.offset = static_cast<uint32_t>(used_);
            e.length = static_cast<uint32_t>(bytes.size());
            CopyBytes(arena_ + used_, bytes);
            used_ += bytes.size();
        }
        void State(size_t column, const CellEntry& type, CellState state) {
            CellEntry& e = entries_[column];
            e = type;
            e.state = state;
            e.offset = 0;
            e.length = 0;
        }

    private:
        void Refresh() {
            entries_ = row_.blocks();
            arena_ = reinterpret_cast<uint8_t*>(entries_ + row_.columns_);
            room_ = (row_.capacity() - row_.columns_) * sizeof(CellEntry);
            used_ = row_.used_;
        }
        RowValues& row_;
        CellEntry* entries_ = nullptr;
        uint8_t* arena_ = nullptr;
        size_t room_ = 0;
        size_t used_ = 0;
    };

private:
    static void Type(CellEntry& entry, const ColumnDef& def) {
        entry.typeCode = static_cast<uint8_t>(def.typeCode);
        entry.precision = def.precision;
        entry.scale = def.scale;
    }
    void Grow(size_t bytes);
    // The common fixed sizes copied inline: a library call costs more than the copy.
    static void CopyBytes(uint8_t* to, ByteView bytes) {
        switch (bytes.size()) {
            case 0: break;
            case 1: *to = *bytes.data(); break;
            case 2: std::memcpy(to, bytes.data(), 2); break;
            case 4: std::memcpy(to, bytes.data(), 4); break;
            case 8: std::memcpy(to, bytes.data(), 8); break;
            default: std::memcpy(to, bytes.data(), bytes.size()); break;
        }
    }
    const uint8_t* arena() const { return reinterpret_cast<const uint8_t*>(blocks() + columns_); }
    CellEntry* blocks() { return heap_.empty() ? reinterpret_cast<CellEntry*>(inline_) : heap_.data(); }
    const CellEntry* blocks() const {
        return heap_.empty() ? reinterpret_cast<const CellEntry*>(inline_) : heap_.data();
    }
    size_t capacity() const { return heap_.empty() ? kInlineBlocks : heap_.size(); }

    // The entries, then the value bytes in the blocks after them: in the row itself when they fit
    // (a row of a typical table costs no allocation), else in one heap block.
    static constexpr size_t kInlineBlocks = 32;
    // Raw bytes, not entries: zeroing all of them for every row cost a fifth of the decode. Reset makes
    // the row's entries; value bytes are read only where written.
    alignas(CellEntry) unsigned char inline_[kInlineBlocks * sizeof(CellEntry)];
    std::vector<CellEntry> heap_;
    size_t columns_ = 0;
    size_t used_ = 0;  // value bytes in the arena
    int32_t codePage_ = 1252;
};

}  // namespace kestrane
