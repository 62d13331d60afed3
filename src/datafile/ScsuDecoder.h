#pragma once
// Decoder of the Standard Compression Scheme for Unicode (SCSU, Unicode Technical Standard #6), the
// form in which row- and page-compressed tables keep their nchar and nvarchar values.
#include <cstdint>
#include <vector>

#include "platform/ByteReader.h"

namespace kestrane {

// Appends the UTF-16LE form of the SCSU bytes `in` to `out`. Returns false when the input breaks off
// inside a tag or uses a reserved tag; what was decoded up to there stays in `out`.
bool DecodeScsu(ByteView in, std::vector<uint8_t>& out);

}  // namespace kestrane
