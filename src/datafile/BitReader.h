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
    // The bit the next column reads when its place is known (BitColumnPlaces); -1: the next bit.
    int32_t place = -1;

    bool NeedsByte() const { return loaded == 0 || bitIndex >= 8; }
    void SetByte(uint8_t value) {
        currentByte = value;
        bitIndex = place > 0 && place < 8 ? place : 0;
        loaded = 1;
    }
    // The next column's own bit: 0 starts a new byte; 1..7 is that bit of the byte in hand, or of the
    // byte the column loads when none is. Whatever the columns before it read.
    void Seek(int32_t bit) {
        place = bit;
        if (bit == 0) Drop();
        else if (bit > 0 && bit < 8 && loaded) bitIndex = bit;
    }
    // Forgets the byte in hand: the next column loads its own.
    void Drop() {
        loaded = 0;
        bitIndex = 8;
    }
    // Bit `bitIndex` of the loaded byte, then advances; 0 once the byte is used up.
    uint8_t NextBit() {
        if (bitIndex < 0 || bitIndex >= 8) return 0;
        return static_cast<uint8_t>((currentByte >> bitIndex++) & 1u);
    }
};

}  // namespace kestrane
