// Feeds arbitrary UTF-16 text to the one-expression check of stored definitions. It must end on any
// input, and what it accepts must stay inside its statement: no line break or NUL, and outside literals
// and delimited names no ";", no comment and no parenthesis closed that was not opened.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sqltext/SqlExpression.h"

using namespace kestrane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    if (!IsSingleExpression(text)) return 0;
    int depth = 0;
    wchar_t close = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        const wchar_t next = i + 1 < text.size() ? text[i + 1] : L'\0';
        if (c == L'\0' || c == L'\r' || c == L'\n') std::abort();
        if (close) {
            if (c == close && next == close) ++i;
            else if (c == close) close = 0;
            continue;
        }
        if (c == L';' || (c == L'-' && next == L'-') || (c == L'/' && next == L'*')) std::abort();
        if (c == L'\'' || c == L'"') close = c;
        if (c == L'[') close = L']';
        if (c == L'(') ++depth;
        if (c == L')' && --depth < 0) std::abort();
    }
    if (close || depth != 0) std::abort();
    return 0;
}
