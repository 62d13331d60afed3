#pragma once
// The quick way through a plain FixedVar record: when every column of a table has the place the
// rowset-column records give it (a fixed value at its leaf offset, a variable value at its own index,
// a NULL bit of its own), a row is its bytes cut at those places. The plan is made once per page; a
// record it cannot take whole (row compression, a sparse vector, a short fixed part, a large or
// damaged value, a column added after the row was written) is left to the general decoder, which gives
// the same cells for the records the plan takes.
#include <cstdint>
#include <vector>

#include "datafile/ColumnDef.h"
#include "datafile/RowValues.h"

namespace kestrane {

class CPrimaryRecord;

class FixedVarRowPlan {
public:
    explicit FixedVarRowPlan(const ColumnDefList& columns);

    bool usable() const { return usable_; }
    // Fills `row` (fresh: every cell Unavailable) from the record and releases the variable values it
    // took, as the general decoder does; false, with the record untouched and `row` to be reset, when
    // the record is not one the plan takes.
    bool Decode(CPrimaryRecord& record, RowValues& row) const;

private:
    struct Step {
        uint32_t column = 0;
        uint8_t canBeEmpty = 0;  // variable: a missing or zero-length value is ''
        uint8_t bit = 0;         // bit: its bit in the byte at `place`
        uint16_t length = 0;     // fixed: the bytes the value takes
        int32_t place = 0;       // fixed and bit: offset in the fixed part; variable: index of the value
        int32_t nullBit = 0;     // 0-based index in the NULL bitmap
        CellEntry cell;          // the column's cell type
    };

    // By kind, each in column order.
    std::vector<Step> fixed_, bits_, variable_, computed_;
    bool usable_ = false;
    int32_t fixedEnd_ = 0;       // the fixed part must hold this many bytes
    int32_t columnsNeeded_ = 0;  // the record's column count must reach this
};

}  // namespace kestrane
