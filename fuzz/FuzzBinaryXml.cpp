// Stored xml values come straight from data pages: any bytes must decode or give the empty text.
#include <cstddef>
#include <cstdint>

#include "platform/BinaryXmlDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kestrane::DecodeBinaryXml(kestrane::ByteView(data, size));
    return 0;
}
