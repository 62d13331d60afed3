#pragma once
// Texts shown in one row of a list: a line break in them would be drawn as a new line over the rows
// below, so each is replaced by a mark.
#include <string>
#include <string_view>

namespace kestrane {

// What a line break of a value shows as in the record grid.
inline constexpr const wchar_t* kLineBreakMark = L"\u21B5";

// LF, VT, FF, CR, NEL, and the Unicode line and paragraph separators.
bool IsLineBreak(wchar_t c);

// `text` with each line break replaced by `mark`; CR LF is one break.
std::wstring OneLineText(std::wstring_view text, std::wstring_view mark);

}  // namespace kestrane
