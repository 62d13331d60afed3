#pragma once
// Reads packed bit columns least significant bit first. A fresh reader has no byte loaded (index 8),
// so the first bit column of a run loads one.
#include <cstdint>

namespace kestrane {

class BitReader {
public:
    int32_t bitIndex = 8;
    uint8_t currentByte = 0;
    uint8_t loaded = 0;

    bool NeedsByte() const { return loaded == 0 || bitIndex >= 8; }
    void SetByte(uint8_t value) {
        currentByte = value;
        bitIndex = 0;
        loaded = 1;
    }
    // Bit `bitIndex` of the loaded byte, then advances; 0 once the byte is used up.
    uint8_t NextBit() {
        if (bitIndex < 0 || bitIndex >= 8) return 0;
        return static_cast<uint8_t>((currentByte >> bitIndex++) & 1u);
    }
};

}  // namespace kestrane
