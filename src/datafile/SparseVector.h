#pragma once
// The sparse-column vector of a record: a complex variable value whose type word is 5.
//   +0 u16 type word (5)   +2 u16 n   +4 n x u16 column ids   +4+2n n x u16 end offsets (from the
//   vector start)   +4+4n column data
#include <cstdint>
#include <vector>

#include "datafile/RecordValues.h"
#include "platform/ByteReader.h"

namespace kestrane {

class SparseVector {
public:
    int16_t count = 0;
    std::vector<ColumnValue> values;

    // Parses `value` (the whole complex value). Values whose bounds fail keep their id and length
    // but no data; a vector whose header does not fit yields no values.
    void Parse(ByteView value);
    void Clear();
};

}  // namespace kestrane
