#pragma once
// Text at the edges: UTF-16LE (file formats), 8-bit Windows code pages (through iconv) and UTF-8
// (terminal, wx, file names). Inside the program text is std::wstring (UTF-32 on this platform).
#include <string>
#include <string_view>
#include <vector>
#include <cstdint>
#include "platform/ByteReader.h"

namespace kestrane {

// UTF-16LE bytes to wide text; an odd trailing byte is dropped, lone surrogates become U+FFFD.
std::wstring Utf16LeToWide(ByteView bytes);
// Wide text to UTF-16LE bytes (no byte-order mark).
std::vector<uint8_t> WideToUtf16Le(const std::wstring& text);
// The same bytes written at `out`, which has room for 4 bytes a character; returns their end.
uint8_t* PutUtf16Le(std::wstring_view text, uint8_t* out);

std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

// 8-bit text in Windows code page `codePage` (1252, 1251, 932, 936, 949, 950, 65001...) to wide
// text. Bytes that the code page does not map become U+FFFD. An unknown code page falls back to 1252.
std::wstring CodePageToWide(ByteView bytes, int codePage);
inline std::wstring CodePageToWide(const std::string& bytes, int codePage) {
    return CodePageToWide(ByteView(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), codePage);
}
// Wide text to 8-bit text in `codePage`; characters the code page lacks become '?'.
std::string WideToCodePage(const std::wstring& text, int codePage);

// Bytes as upper-case hex digits, two a byte, no prefix.
std::wstring HexText(ByteView bytes);
// Lower case of every character (for case-insensitive matches of names).
std::wstring LowerCase(std::wstring text);

// The iconv name for a Windows code page ("CP1252", "SHIFT_JIS"...).
std::string IconvNameForCodePage(int codePage);

}  // namespace kestrane
