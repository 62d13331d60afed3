#include "platform/LineBreaks.h"

namespace kestrane {

bool IsLineBreak(wchar_t c) {
    return (c >= L'\n' && c <= L'\r') || c == L'\u0085' || c == L'\u2028' || c == L'\u2029';
}

std::wstring OneLineText(std::wstring_view text, std::wstring_view mark) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (!IsLineBreak(text[i])) {
            out += text[i];
            continue;
        }
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        out += mark;
    }
    return out;
}

}  // namespace kestrane
