#pragma once
// One value of a row-compressed (CD) record turned back into the bytes that an uncompressed row holds
// for its column type. The compressed forms:
//   integers, money, dates and times  big-endian, fewest bytes, top bit flipped (so that bytes sort as
//                                      numbers); tinyint as it stands
//   float, real                        big-endian with the trailing zero bytes dropped
//   char(n), binary(n)                 trailing blanks / zero bytes dropped
//   nchar, nvarchar                    SCSU when the length is odd, UTF-16LE as it stands when even
//   decimal, numeric                   vardecimal: byte 0 = sign (bit 7 set: positive) and exponent
//                                      (base 1000, biased by 64); then 10-bit groups of 3 digits, most
//                                      significant first; a negative value has every byte inverted
//   others                             as they stand
// CD code 1 (empty) is the type's zero, blank or empty value.
#include <cstdint>
#include <vector>

#include "datafile/ColumnDef.h"
#include "platform/ByteReader.h"

namespace kestrane {

// CD codes (4 bits per column).
enum CdCode : int {
    kCdNull = 0,
    kCdEmpty = 1,
    kCdShortFirst = 2,  // 2..9: a short value of code - 1 bytes
    kCdShortLast = 9,
    kCdLong = 10,
    kCdBitOne = 11,
    kCdPageSymbol = 12,
};

// Bytes of the column in an uncompressed row's fixed part; 0 for bit and variable-length types.
size_t UncompressedFixedWidth(const ColumnDef& def);

// Expands `stored` (the column's bytes with page symbols and prefixes already resolved) of CD code
// `code` into `out`. False (and `out` the type's zero value) when the bytes cannot be a value of the
// column's type.
bool ExpandCdValue(const ColumnDef& def, int code, ByteView stored, std::vector<uint8_t>& out);

// The vardecimal form of a decimal(precision, scale) as its fixed form: sign byte (1 positive) and
// the scaled magnitude, little-endian, in 4, 8, 12 or 16 bytes by precision.
bool VarDecimalToDecimal(ByteView stored, int precision, int scale, std::vector<uint8_t>& out);

}  // namespace kestrane
