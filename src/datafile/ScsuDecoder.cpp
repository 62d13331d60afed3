#include "datafile/ScsuDecoder.h"

#include <array>

namespace kestrane {

namespace {

// Tags of the single-byte mode.
constexpr uint8_t kSQ0 = 0x01;  // SQ0..SQ7: quote one character from window n
constexpr uint8_t kSDX = 0x0B;  // define an extended window
constexpr uint8_t kSQU = 0x0E;  // quote one UTF-16 unit
constexpr uint8_t kSCU = 0x0F;  // switch to Unicode mode
constexpr uint8_t kSC0 = 0x10;  // SC0..SC7: change to window n
constexpr uint8_t kSD0 = 0x18;  // SD0..SD7: define window n and change to it
// Tags of the Unicode mode.
constexpr uint8_t kUC0 = 0xE0;  // UC0..UC7: change to window n, back to single-byte mode
constexpr uint8_t kUD0 = 0xE8;  // UD0..UD7: define window n, back to single-byte mode
constexpr uint8_t kUQU = 0xF0;  // quote one UTF-16 unit
constexpr uint8_t kUDX = 0xF1;  // define an extended window, back to single-byte mode
constexpr uint8_t kUReserved = 0xF2;

constexpr std::array<uint32_t, 8> kStaticWindows{0x0000, 0x0080, 0x0100, 0x0300, 0x2000, 0x2080, 0x2100, 0x3000};
constexpr std::array<uint32_t, 8> kInitialDynamicWindows{0x0080, 0x00C0, 0x0400, 0x0600,
                                                         0x0900, 0x3040, 0x30A0, 0xFF00};

void PutUnit(std::vector<uint8_t>& out, uint32_t unit) {
    out.push_back(static_cast<uint8_t>(unit));
    out.push_back(static_cast<uint8_t>(unit >> 8));
}

void PutCodePoint(std::vector<uint8_t>& out, uint32_t cp) {
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
        cp -= 0x10000;
        PutUnit(out, 0xD800 | (cp >> 10));
        PutUnit(out, 0xDC00 | (cp & 0x3FF));
    } else {
        PutUnit(out, cp & 0xFFFF);
    }
}

// Window offset named by the byte of an SDn/UDn tag; 0 for the reserved value.
uint32_t WindowOffset(uint8_t x) {
    if (x >= 0x01 && x <= 0x67) return x * 0x80u;
    if (x >= 0x68 && x <= 0xA7) return x * 0x80u + 0xAC00u;
    switch (x) {
        case 0xF9: return 0x00C0;
        case 0xFA: return 0x0250;
        case 0xFB: return 0x0370;
        case 0xFC: return 0x0530;
        case 0xFD: return 0x3040;
        case 0xFE: return 0x30A0;
        case 0xFF: return 0xFF60;
        default: return 0;
    }
}

}  // namespace

bool DecodeScsu(ByteView in, std::vector<uint8_t>& out) {
    std::array<uint32_t, 8> windows = kInitialDynamicWindows;
    size_t active = 0;
    bool unicodeMode = false;
    size_t i = 0;
    const size_t n = in.size();
    const uint8_t* b = in.data();
    // An extended window: 3 bits of window number, 13 bits of offset above U+10000.
    auto defineExtended = [&](size_t at) {
        const uint32_t hi = b[at];
        const uint32_t lo = b[at + 1];
        active = hi >> 5;
        windows[active] = 0x10000u + ((((hi & 0x1F) << 8) | lo) << 7);
    };
    // SDn / UDn: window n moves to the offset named by the next byte and becomes the active one.
    auto defineWindow = [&](size_t window) {
        if (i + 1 >= n) return false;
        const uint32_t offset = WindowOffset(b[i + 1]);
        if (offset == 0) return false;
        active = window;
        windows[active] = offset;
        i += 2;
        return true;
    };
    // SQU / UQU: the next two bytes are one UTF-16 unit, big-endian.
    auto quoteUnit = [&]() {
        if (i + 2 >= n) return false;
        PutUnit(out, (uint32_t{b[i + 1]} << 8) | b[i + 2]);
        i += 3;
        return true;
    };
    while (i < n) {
        const uint8_t c = b[i];
        if (!unicodeMode) {
            if (c >= 0x80) {
                PutCodePoint(out, windows[active] + (c - 0x80u));
                ++i;
            } else if (c >= 0x20 || c == 0x00 || c == 0x09 || c == 0x0A || c == 0x0D) {
                PutUnit(out, c);
                ++i;
            } else if (c >= kSQ0 && c < kSQ0 + 8) {
                if (i + 1 >= n) return false;
                const uint8_t q = b[i + 1];
                const size_t w = c - kSQ0;
                PutCodePoint(out, q < 0x80 ? kStaticWindows[w] + q : windows[w] + (q - 0x80u));
                i += 2;
            } else if (c == kSDX) {
                if (i + 2 >= n) return false;
                defineExtended(i + 1);
                i += 3;
            } else if (c == kSQU) {
                if (!quoteUnit()) return false;
            } else if (c == kSCU) {
                unicodeMode = true;
                ++i;
            } else if (c >= kSC0 && c < kSC0 + 8) {
                active = c - kSC0;
                ++i;
            } else if (c >= kSD0 && c < kSD0 + 8) {
                if (!defineWindow(c - kSD0)) return false;
            } else {
                return false;  // 0x0C, the one reserved single-byte tag
            }
        } else {
            if (c >= kUC0 && c < kUC0 + 8) {
                active = c - kUC0;
                unicodeMode = false;
                ++i;
            } else if (c >= kUD0 && c < kUD0 + 8) {
                if (!defineWindow(c - kUD0)) return false;
                unicodeMode = false;
            } else if (c == kUQU) {
                if (!quoteUnit()) return false;
            } else if (c == kUDX) {
                if (i + 2 >= n) return false;
                defineExtended(i + 1);
                unicodeMode = false;
                i += 3;
            } else if (c == kUReserved) {
                return false;
            } else {
                if (i + 1 >= n) return false;
                PutUnit(out, (uint32_t{c} << 8) | b[i + 1]);
                i += 2;
            }
        }
    }
    return true;
}

}  // namespace kestrane
